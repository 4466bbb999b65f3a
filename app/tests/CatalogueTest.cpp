// The six catalogues are finished and in step with the sources: no unfinished,
// empty or obsolete entry, every translation keeps the placeholders and line
// breaks of its source, and lupdate run over the sources finds no text that
// the catalogues lack or hold in excess.
//
// Arguments: the catalogue directory, the lupdate program, then the sources.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

QString g_catalogueDir;
QString g_lupdate;
QStringList g_sources;

const QStringList kLanguages = { "en", "fr", "de", "es", "it", "nl" };

struct Message {
    QString context;
    QString source;
    QString comment;
    bool numerus = false;
    QString type;
    QStringList forms;

    QString key() const { return context + u'\x1f' + source + u'\x1f' + comment; }
    QString where() const { return context + ": \"" + source.left(60) + "\""; }
};

// Every message of a .ts file, or an error text.
QList<Message> readCatalogue(const QString& path, QString* error)
{
    QList<Message> messages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = "cannot open " + path;
        return messages;
    }
    QXmlStreamReader xml(&file);
    QString context;
    Message current;
    bool inMessage = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const auto name = xml.name();
            if (name == u"name" && !inMessage) {
                context = xml.readElementText();
            } else if (name == u"message") {
                inMessage = true;
                current = Message{};
                current.context = context;
                current.numerus = xml.attributes().value("numerus") == u"yes";
            } else if (inMessage && name == u"source") {
                current.source = xml.readElementText();
            } else if (inMessage && name == u"comment") {
                current.comment = xml.readElementText();
            } else if (inMessage && name == u"translation") {
                current.type = xml.attributes().value("type").toString();
                if (!current.numerus)
                    current.forms << xml.readElementText();
            } else if (inMessage && name == u"numerusform") {
                current.forms << xml.readElementText();
            }
        } else if (xml.isEndElement() && xml.name() == u"message") {
            inMessage = false;
            messages << current;
        }
    }
    if (xml.hasError())
        *error = path + ": " + xml.errorString();
    return messages;
}

// The placeholders of a text, sorted: "%1", "%2", "%n" (each once per use).
QStringList placeholders(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("%(?:[1-9]|n)"));
    QStringList found;
    for (auto it = pattern.globalMatch(text); it.hasNext();)
        found << it.next().captured(0);
    found.sort();
    return found;
}

QSet<QString> keysOf(const QList<Message>& messages)
{
    QSet<QString> keys;
    for (const Message& message : messages)
        keys.insert(message.key());
    return keys;
}

} // namespace

class CatalogueTest : public QObject {
    Q_OBJECT

private slots:
    void everyEntryIsFinished_data()
    {
        QTest::addColumn<QString>("language");
        for (const QString& language : kLanguages)
            QTest::newRow(qPrintable(language)) << language;
    }

    void everyEntryIsFinished()
    {
        QFETCH(QString, language);
        QString error;
        const QList<Message> messages =
            readCatalogue(g_catalogueDir + "/tavrix_" + language + ".ts", &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(!messages.isEmpty());

        QStringList faults;
        for (const Message& message : messages) {
            if (!message.type.isEmpty()) {
                faults << message.type + ": " + message.where();
                continue;
            }
            if (message.forms.isEmpty())
                faults << "no translation: " + message.where();
            const QStringList wanted = placeholders(message.source);
            const qsizetype breaks = message.source.count(u'\n');
            for (const QString& form : message.forms) {
                if (form.trimmed().isEmpty())
                    faults << "empty: " + message.where();
                else if (placeholders(form) != wanted)
                    faults << "placeholders " + placeholders(form).join(',') + " instead of "
                                  + wanted.join(',') + ": " + message.where();
                else if (form.count(u'\n') != breaks)
                    faults << "line breaks differ: " + message.where();
            }
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }

    // lupdate over the sources gives exactly the catalogues' entries.
    void cataloguesFollowTheSources()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString fresh = dir.filePath("fresh.ts");
        QProcess lupdate;
        lupdate.setProcessChannelMode(QProcess::MergedChannels);
        lupdate.start(g_lupdate, QStringList(g_sources)
                                     << "-locations" << "none" << "-no-obsolete" << "-silent" << "-ts" << fresh);
        QVERIFY2(lupdate.waitForFinished(120000), "lupdate did not finish");
        QVERIFY2(lupdate.exitCode() == 0, lupdate.readAll().constData());

        QString error;
        const QSet<QString> fromSources = keysOf(readCatalogue(fresh, &error));
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(!fromSources.isEmpty());

        QStringList faults;
        for (const QString& language : kLanguages) {
            const QSet<QString> inCatalogue =
                keysOf(readCatalogue(g_catalogueDir + "/tavrix_" + language + ".ts", &error));
            QVERIFY2(error.isEmpty(), qPrintable(error));
            for (const QString& key : fromSources - inCatalogue)
                faults << language + " lacks " + QString(key).replace(u'\x1f', " | ");
            for (const QString& key : inCatalogue - fromSources)
                faults << language + " holds a text gone from the sources: "
                              + QString(key).replace(u'\x1f', " | ");
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n') + "\n(run i18n/update.sh)"));
    }
};

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments();
    if (arguments.size() < 4) {
        qCritical("usage: CatalogueTest <catalogue dir> <lupdate> <sources...>");
        return 2;
    }
    g_catalogueDir = arguments.at(1);
    g_lupdate = arguments.at(2);
    g_sources = arguments.mid(3);
    // Qt Test reads only its own name from the command line.
    char* testArguments[] = { argv[0] };
    CatalogueTest test;
    return QTest::qExec(&test, 1, testArguments);
}

#include "CatalogueTest.moc"
