// SPDX-License-Identifier: GPL-3.0-or-later
// The Chinese messages: every source text translated, placeholders kept, and chosen from the
// system's language.

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <set>

#include "qt_helpers.h"
#include "temp_dir.h"

using namespace progread::testing;

namespace {

struct TsMessage {
    QString context, source, translation, type;
};

std::vector<TsMessage> readTs(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    QXmlStreamReader xml(&file);
    std::vector<TsMessage> messages;
    QString context;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement()) continue;
        if (xml.name() == QLatin1String("name")) context = xml.readElementText();
        if (xml.name() == QLatin1String("message")) messages.push_back({context, {}, {}, {}});
        if (xml.name() == QLatin1String("source")) messages.back().source = xml.readElementText();
        if (xml.name() == QLatin1String("translation")) {
            messages.back().type = xml.attributes().value(QLatin1String("type")).toString();
            messages.back().translation = xml.readElementText();
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return messages;
}

std::multiset<QString> placeholders(const QString& text) {
    std::multiset<QString> found;
    auto it = QRegularExpression(QStringLiteral("%\\d")).globalMatch(text);
    while (it.hasNext()) found.insert(it.next().captured());
    return found;
}

}  // namespace

TEST(Translations, EverySourceTextHasAFinishedChineseTranslation) {
    // lupdate over the sources as they are now, into a copy: a text added or changed since the
    // .ts was last brought up to date shows as unfinished there.
    TempDir dir;
    const QString ts = QString::fromStdString((dir / "progread_zh_CN.ts").string());
    ASSERT_TRUE(QFile::copy(QStringLiteral(PROGREAD_TS), ts));
    QProcess lupdate;
    lupdate.setWorkingDirectory(QStringLiteral(PROGREAD_SOURCE_DIR));
    lupdate.start(QStringLiteral(PROGREAD_LUPDATE),
                  {"-no-obsolete", "-locations", "none", "-I", ".", "ui", "-ts", ts});
    ASSERT_TRUE(lupdate.waitForFinished(60000));
    ASSERT_EQ(lupdate.exitCode(), 0) << lupdate.readAllStandardError().toStdString();

    const std::vector<TsMessage> messages = readTs(ts);
    EXPECT_GT(messages.size(), 50u);
    EXPECT_EQ(messages.size(), readTs(QStringLiteral(PROGREAD_TS)).size())
        << "lupdate found texts the committed .ts does not have";
    for (const TsMessage& m : messages) {
        const std::string where = m.context.toStdString() + ": " + m.source.left(60).toStdString();
        EXPECT_TRUE(m.type.isEmpty()) << where << " is " << m.type.toStdString();
        EXPECT_FALSE(m.translation.trimmed().isEmpty()) << where;
        EXPECT_EQ(placeholders(m.translation), placeholders(m.source)) << where;
    }
}

TEST(Translations, ASummaryInChineseWhenTheSystemSpeaksIt) {
    struct Row {
        QStringList env;
        QStringList args;
        QString said;
    };
    const std::vector<Row> rows = {
        {{"LANG=zh_CN.UTF-8"}, {}, QStringLiteral("共读取 1312 字节，41 块")},
        {{"LANG=zh_CN.UTF-8", "LC_ALL=zh_CN.UTF-8"},
         {"--lang", "en"},
         QStringLiteral("Read 1312 bytes, 41 blocks")},
        {{"LANG=C"}, {"--lang", "zh"}, QStringLiteral("共读取 1312 字节，41 块")},
        {{"LANG=C"}, {}, QStringLiteral("Read 1312 bytes, 41 blocks")},
    };
    for (const Row& row : rows) {
        TempDir dir;
        Sim sim;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name :
             {"LANG", "LC_ALL", "LC_MESSAGES", "LANGUAGE", "DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        for (const QString& e : row.env) env.insert(e.section('=', 0, 0), e.section('=', 1));
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(PROGREAD_EXE),
                QStringList{"--read", sim.qport(), "--dir",
                            QString::fromStdString(dir.path().string()), "--fast"} +
                    row.args);
        ASSERT_TRUE(p.waitForFinished(60000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_EQ(p.exitCode(), 0) << err.toStdString();
        EXPECT_TRUE(err.contains(row.said)) << row.env.join(' ').toStdString() << "\n"
                                            << err.toStdString();
        EXPECT_TRUE(err.contains(QString::fromStdString((dir / "duqu.pmw").string())))
            << err.toStdString();
    }
}

TEST(Translations, UsageErrorsAndHelpInTheChosenLanguage) {
    struct Row {
        QStringList args;
        int exitCode;
        QString said;
    };
    const std::vector<Row> rows = {
        {{"--bogus", "--lang", "zh"},
         2,
         QStringLiteral("未知选项：--bogus")},  // the language after the mistake
        {{"--lang", "zh", "--help"}, 0, QStringLiteral("--verify       把程序再读取一遍")},
        {{"--lang", "en", "--help"},
         0,
         QStringLiteral("--verify       read the program a second time")},
        {{"--lang", "fr"}, 2, QStringLiteral("--lang takes zh or en, not fr")},
    };
    for (const Row& row : rows) {
        QProcess p;
        p.start(QStringLiteral(PROGREAD_EXE), row.args);
        ASSERT_TRUE(p.waitForFinished(30000));
        const QString all = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
        EXPECT_EQ(p.exitCode(), row.exitCode) << row.args.join(' ').toStdString() << "\n"
                                              << all.toStdString();
        EXPECT_TRUE(all.contains(row.said)) << row.args.join(' ').toStdString() << "\n"
                                            << all.toStdString();
    }
}
