// A test agent inside a real application: a Qt generic plugin that a test
// loads into an unchanged program through the environment
// (QT_PLUGIN_PATH=<this build folder>, QT_QPA_GENERIC_PLUGINS=orventotestagent).
// It reads one command a line on the program's standard input, acts on the
// program's widgets, found by object name, and answers each command with one
// line on standard output: "agent " and a JSON array holding the answer (or
// the word of an error), so that it stands out among the program's own output.
//
//   get NAME PROPERTY   the widget's property ("text", "enabled", "visible", ...)
//   rows NAME           the texts of an item view's rows
//   click NAME          a left click in the middle of the widget
//   key NAME KEYS       a key press and release, e.g. "Return", "Down", "Ctrl+Q"
//   type NAME TEXT      selects what the field holds and types TEXT over it
//
// Commands are carried out on the main thread, by whichever event loop runs.
#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QGenericPlugin>
#include <QJsonArray>
#include <QJsonDocument>
#include <QKeySequence>
#include <QSocketNotifier>
#include <QTest>
#include <cstdio>

namespace orvento::test {

class Agent : public QObject {
  public:
    Agent() : input_(STDIN_FILENO, QSocketNotifier::Read) {
        connect(&input_, &QSocketNotifier::activated, this, &Agent::readCommands);
    }

  private:
    void readCommands() {
        char chunk[4096];
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got <= 0) {
            input_.setEnabled(false);
            return;
        }
        pending_.append(chunk, got);
        for (qsizetype end; (end = pending_.indexOf('\n')) >= 0;) {
            const QString line = QString::fromUtf8(pending_.left(end));
            pending_.remove(0, end + 1);
            answer(carryOut(line.split(QLatin1Char(' '))));
        }
    }

    static QWidget* widgetNamed(const QString& name) {
        const QList<QWidget*> widgets = QApplication::allWidgets();
        for (QWidget* widget : widgets) {
            if (widget->objectName() == name) {
                return widget;
            }
        }
        return nullptr;
    }

    static QJsonValue carryOut(const QStringList& words) {
        QWidget* widget = widgetNamed(words.value(1));
        if (words.size() < 2 || widget == nullptr) {
            return QStringLiteral("error: no widget %1").arg(words.value(1));
        }
        const QString command = words[0];
        const QString rest = words.mid(2).join(QLatin1Char(' '));
        if (command == QLatin1String("get")) {
            return QJsonValue::fromVariant(widget->property(rest.toUtf8()));
        }
        if (command == QLatin1String("rows")) {
            QJsonArray rows;
            if (auto* view = qobject_cast<QAbstractItemView*>(widget); view && view->model()) {
                for (int row = 0; row < view->model()->rowCount(); ++row) {
                    rows.append(view->model()->index(row, 0).data().toString());
                }
            }
            return rows;
        }
        if (command == QLatin1String("click")) {
            QTest::mouseClick(widget, Qt::LeftButton);
        } else if (command == QLatin1String("key")) {
            const QKeyCombination key = QKeySequence::fromString(rest)[0];
            QTest::keyClick(widget, key.key(), key.keyboardModifiers());
        } else if (command == QLatin1String("type")) {
            widget->setFocus();
            QTest::keyClick(widget, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(widget, rest);
        } else {
            return QStringLiteral("error: no command %1").arg(command);
        }
        return QStringLiteral("done");
    }

    static void answer(const QJsonValue& value) {
        const QByteArray line =
            "agent " + QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact) + "\n";
        std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
        std::fflush(stdout);
    }

    QSocketNotifier input_;
    QByteArray pending_;
};

class TestAgentPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "agent.json")

  public:
    QObject* create(const QString& /*key*/, const QString& /*specification*/) override {
        return new Agent;
    }
};

}  // namespace orvento::test

#include "TestAgentPlugin.moc"
