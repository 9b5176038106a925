#pragma once

#include "core/app/app_paths.h"
#include "core/filters/filter20b.h"
#include "core/filters/filter_entries.h"

#include <QDialog>

class QLineEdit;
class QListWidget;
class QRadioButton;
class QStackedWidget;

namespace quillner {

// "Filter CAN 2.0B": the identifier list or the bit patterns of extended frames. The mode, the
// filter type and the display base are the window's own for the whole run; a document sets the
// first two when it carries them.
class TFFilterExt : public QDialog
{
    Q_OBJECT
public:
    TFFilterExt(const AppPaths& paths, QWidget* parent = nullptr);

    void FormShow();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeCobIdPanel();
    QWidget* makeMaskPanel();

    void RB_COB_FilterClick();
    void RB_Mask_FilterClick();
    void LbButton1Click();
    void LbButton2Click();
    void RadioGroup1Click();
    void LbButton4Click();
    void LbButton5Click();
    void bitbtn1Click();
    // The typed identifiers, or else the listed ones, as patterns: the extra identifiers they
    // let through are shown, and the mask list is replaced only when the user agrees.
    void FitPatternsClick();

    NumberBase displayBase() const;
    Filter20B collect() const;
    void apply(const Filter20B& filter);
    void appendPattern(const QString& pattern);
    QStringList cobIdEntries() const;

    const AppPaths& m_paths;
    QRadioButton* m_RB_COB_Filter;
    QRadioButton* m_RB_Mask_Filter;
    QStackedWidget* m_panels;
    QWidget* m_PCOBF;
    QWidget* m_PMaskF;
    QLineEdit* m_Edit1;
    QListWidget* m_ListBox1;
    QRadioButton* m_TypePositive;
    QRadioButton* m_TypeNegative;
    QRadioButton* m_HEX;
    QLineEdit* m_Edit2;
    QListWidget* m_ListBox2;
};

} // namespace quillner
