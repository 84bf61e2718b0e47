// A test agent that AppTest loads into the real program as a Qt generic
// plugin (QT_PLUGIN_PATH, QT_QPA_GENERIC_PLUGINS=orventotestagent): a command
// a line on standard input, on the widget of that object name, each answered
// with a line "agent [ANSWER]" (JSON) on standard output:
//   get NAME PROPERTY        the property's value
//   set NAME PROPERTY TEXT   sets the property to TEXT
//   key NAME KEYS            a key click, e.g. "Return", "Space", "Ctrl+Q"
#include <unistd.h>

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
    Agent() { connect(&input_, &QSocketNotifier::activated, this, &Agent::readCommands); }

  private:
    void readCommands() {
        char chunk[4096];
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got <= 0) {
            input_.setEnabled(false);
            return;
        }
        pending_.append(chunk, got);
        for (qsizetype end; (end = pending_.indexOf('\n')) >= 0; pending_.remove(0, end + 1)) {
            const QJsonValue answer =
                carryOut(QString::fromUtf8(pending_.left(end)).split(QLatin1Char(' ')));
            const QByteArray line =
                "agent " + QJsonDocument(QJsonArray{answer}).toJson(QJsonDocument::Compact) + "\n";
            std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
            std::fflush(stdout);
        }
    }

    static QJsonValue carryOut(const QStringList& words) {
        QWidget* widget = nullptr;
        for (QWidget* candidate : QApplication::allWidgets()) {
            widget = candidate->objectName() == words.value(1) ? candidate : widget;
        }
        if (widget == nullptr) {
            return QStringLiteral("error: no widget %1").arg(words.value(1));
        }
        const QByteArray property = words.value(2).toUtf8();
        if (words[0] == QLatin1String("get")) {
            return QJsonValue::fromVariant(widget->property(property));
        }
        if (words[0] == QLatin1String("set")) {
            widget->setProperty(property, words.mid(3).join(QLatin1Char(' ')));
        } else if (words[0] == QLatin1String("key")) {
            const QKeyCombination key = QKeySequence::fromString(words.value(2))[0];
            QTest::keyClick(widget, key.key(), key.keyboardModifiers());
        }
        return QStringLiteral("done");
    }

    QSocketNotifier input_{STDIN_FILENO, QSocketNotifier::Read};
    QByteArray pending_;
};

class TestAgentPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "agent.json")

  public:
    QObject* create(const QString& /*key*/, const QString& /*parameters*/) override {
        return new Agent;
    }
};

}  // namespace orvento::test

#include "TestAgentPlugin.moc"
