#pragma once

#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include <utility>

namespace quillner {

// A child widget with its objectName, the name by which tests and style sheets find it.
template <typename Widget, typename... Args>
Widget* makeNamed(QWidget* parent, const char* name, Args&&... args)
{
    auto* widget = new Widget(std::forward<Args>(args)..., parent);
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// A button that Enter does not press: in these windows Enter belongs to the entry fields and to
// the one default button.
inline QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption)
{
    auto* button = makeNamed<QPushButton>(parent, name, caption);
    button->setAutoDefault(false);
    return button;
}

// A label that moves the focus to its field (its mnemonic).
inline QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption, QWidget* buddy)
{
    auto* label = makeNamed<QLabel>(parent, name, caption);
    label->setBuddy(buddy);
    return label;
}

} // namespace quillner
