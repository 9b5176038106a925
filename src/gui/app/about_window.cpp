#include "gui/app/about_window.h"

#include "gui/app/ui_seams.h"
#include "gui/app/window_look.h"

#include <QGridLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>

namespace quillner {

TFAbout::TFAbout(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FAbout"));
    setWindowTitle(QStringLiteral("About..."));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    auto* logo = new ClickableLabel(this);
    logo->setObjectName(QStringLiteral("Image1"));
    logo->setPixmap(makeLogo(72));
    logo->setCursor(Qt::PointingHandCursor);
    logo->setToolTip(QString::fromLatin1(kMakerWebPage));

    auto* name = new QLabel(QStringLiteral("Software Quillner "), this);
    name->setObjectName(QStringLiteral("Label1"));
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    auto* what = new QLabel(QStringLiteral("Gateway Serial to CAN"), this);
    what->setObjectName(QStringLiteral("Label2"));

    auto* facts = new QGridLayout;
    const QStringList captions = {QStringLiteral("Software Code : "), QStringLiteral("Version :"),
                                  QStringLiteral("Document Code :")};
    const QStringList values = {QStringLiteral("QT51804"), QStringLiteral("1.002"),
                                QStringLiteral("MN51804")};
    for (int row = 0; row < captions.size(); ++row) {
        facts->addWidget(new QLabel(captions[row], this), row, 0);
        auto* value = new QLabel(values[row], this);
        value->setObjectName(QStringLiteral("Value%1").arg(row + 1));
        // Read alone, "QT51804" needs its caption: the description carries it.
        value->setAccessibleDescription(captions[row].trimmed().chopped(1).trimmed());
        facts->addWidget(value, row, 1);
    }

    auto* link = new ClickableLabel(this);
    link->setObjectName(QStringLiteral("Label4"));
    link->setText(
        QStringLiteral("<a href=\"%1\" style=\"color:#0000ff\">%2</a>")
            .arg(QString::fromLatin1(kMakerWebPage), QString::fromLatin1(kMakerWebAddress)));
    link->setTextInteractionFlags(Qt::NoTextInteraction);
    link->setCursor(Qt::PointingHandCursor);

    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setObjectName(QStringLiteral("BitBtn1"));
    ok->setDefault(true);

    auto* layout = new QGridLayout(this);
    layout->setHorizontalSpacing(16);
    layout->addWidget(logo, 0, 0, 3, 1, Qt::AlignTop);
    layout->addWidget(name, 0, 1);
    layout->addWidget(what, 1, 1);
    layout->addLayout(facts, 2, 1);
    layout->addWidget(ok, 3, 0, Qt::AlignLeft);
    layout->addWidget(link, 3, 1, Qt::AlignRight | Qt::AlignBottom);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(logo, &ClickableLabel::clicked, this,
            [this] { guarded(this, [this] { openMakerWebPage(); }); });
    connect(link, &ClickableLabel::clicked, this,
            [this] { guarded(this, [this] { openMakerWebPage(); }); });
    applyWindowHabits(this);
}

void TFAbout::openMakerWebPage()
{
    openUrl(QString::fromLatin1(kMakerWebPage));
}

} // namespace quillner
