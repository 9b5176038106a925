// How long the "Filter CAN 2.0A" window takes to refill its two lists of 2048 identifiers after
// "ALL", "NONE", ">>", "<<" and a display switch: the handler alone, and the handler with the
// layout and painting of the window that follow it (one frame). Runs offscreen by default.
#include "core/app/app_paths.h"
#include "gui/app/ui_seams.h"
#include "gui/filters/filter20a_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QListView>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <functional>
#include <vector>

using namespace quillner;

namespace {

constexpr int kRounds = 200;

struct Timing
{
    double handlerMs;
    double frameMs;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double maximum(const std::vector<double>& values)
{
    return *std::max_element(values.begin(), values.end());
}

template <typename Widget> Widget* control(QWidget* window, const char* name)
{
    auto* widget = window->findChild<Widget*>(QString::fromLatin1(name));
    if (!widget)
        qFatal("No control %s", name);
    return widget;
}

// Runs prepare (not timed), then the action; the frame time adds the posted layout and a
// synchronous repaint of the whole window.
Timing measureOnce(QWidget* window, const std::function<void()>& prepare,
                   const std::function<void()>& action)
{
    prepare();
    QCoreApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    action();
    const qint64 handler = timer.nsecsElapsed();
    QCoreApplication::processEvents();
    window->repaint();
    const qint64 frame = timer.nsecsElapsed();
    return {handler / 1e6, frame / 1e6};
}

void selectFirstRow(QListView* list)
{
    list->selectionModel()->select(list->model()->index(0, 0), QItemSelectionModel::ClearAndSelect);
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QStringList errors;
    setMessageHandler([&errors](QWidget*, MessageKind, const QString& text) { errors << text; });

    QTemporaryDir dir;
    AppPaths paths;
    paths.ProjectDir = dir.path();
    paths.Filter20APath = joinPath(dir.path(), QStringLiteral("Filter20A.xml"));
    TFFilter window(paths);
    window.show();
    QCoreApplication::processEvents();

    auto* hidden = control<QListView>(&window, "ListBox1");
    auto* visible = control<QListView>(&window, "ListBox2");
    const auto press = [&window](const char* name) {
        return [&window, name] { control<QAbstractButton>(&window, name)->click(); };
    };
    const auto nothing = [] {};
    bool decimal = false;

    struct Case
    {
        const char* name;
        std::function<void()> prepare;
        std::function<void()> action;
    };
    const std::vector<Case> cases{
        {"ALL", press("LbButton4"), press("LbButton3")},
        {"NONE", press("LbButton3"), press("LbButton4")},
        {">>",
         [&] {
             press("LbButton4")();
             selectFirstRow(hidden);
         },
         press("LbButton1")},
        {"<<",
         [&] {
             press("LbButton3")();
             selectFirstRow(visible);
         },
         press("LbButton2")},
        {"display switch", nothing,
         [&] {
             decimal = !decimal;
             press(decimal ? "RomanRadio2" : "RomanRadio1")();
         }},
    };

    QTextStream out(stdout);
    out << "Refilling the 2.0A lists (2048 identifiers), " << kRounds << " rounds each, in ms\n";
    out << QStringLiteral("%1 %2 %3 %4 %5\n")
               .arg(QStringLiteral("action"), -16)
               .arg(QStringLiteral("handler med"), 12)
               .arg(QStringLiteral("handler max"), 12)
               .arg(QStringLiteral("frame med"), 12)
               .arg(QStringLiteral("frame max"), 12);
    for (const Case& c : cases) {
        std::vector<double> handler;
        std::vector<double> frame;
        for (int round = 0; round < kRounds; ++round) {
            const Timing timing = measureOnce(&window, c.prepare, c.action);
            handler.push_back(timing.handlerMs);
            frame.push_back(timing.frameMs);
        }
        out << QStringLiteral("%1 %2 %3 %4 %5\n")
                   .arg(QString::fromLatin1(c.name), -16)
                   .arg(median(handler), 12, 'f', 3)
                   .arg(maximum(handler), 12, 'f', 3)
                   .arg(median(frame), 12, 'f', 3)
                   .arg(maximum(frame), 12, 'f', 3);
    }
    if (!errors.isEmpty()) {
        out << "Unexpected messages: " << errors.join(QStringLiteral("; ")) << '\n';
        return 1;
    }
    return 0;
}
