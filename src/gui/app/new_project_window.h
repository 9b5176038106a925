#pragma once

#include "core/app/app_paths.h"

#include <QDialog>

class QLineEdit;

namespace quillner {

class TFpargen;
class TFSetVar;

// "New project": creates a project folder below the destination with its default documents.
class TFsaveproj : public QDialog
{
    Q_OBJECT
public:
    TFsaveproj(AppPaths& paths, TFpargen* generalParameters, TFSetVar* translateTable,
               QWidget* parent = nullptr);

    void setDestination(const QString& folder) { m_destination = folder; }
    const QString& destination() const { return m_destination; }

    void clearName();
    void createProject();

protected:
    void showEvent(QShowEvent* event) override;

private:
    AppPaths& m_paths;
    TFpargen* m_generalParameters;
    TFSetVar* m_translateTable;
    QString m_destination;
    QLineEdit* m_nameEntry;
};

} // namespace quillner
