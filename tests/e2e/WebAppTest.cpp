// The stand-in web application on its own, asked directly: the answers the bridge relies on,
// among them the poll's "tabsync", which the bridge asks for only after minutes of quiet.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "e2e/Rig.h"

namespace kv::e2e {
namespace {

class StandInWebApp : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_tmp.isValid());
        web = std::make_unique<WebApp>(m_tmp.path(), m_tmp.path());
        web->start();
    }

    QList<QByteArray> pollLines() { return web->get("kvsync.php?prikaz=4").split('\n'); }

    std::unique_ptr<WebApp> web;

private:
    QTemporaryDir m_tmp;
};

TEST_F(StandInWebApp, PollAnswersTabsyncOnceAfterEachChangeOfTheTables) {
    EXPECT_FALSE(pollLines().contains("tabsync")) << "a fresh seed is what the unit holds";

    web->get("admin.php?action=touch_tables");
    const QList<QByteArray> changed = pollLines();
    const qsizetype at = changed.indexOf("tabsync");
    ASSERT_GE(at, 0);
    EXPECT_FALSE(changed.value(at + 1).isEmpty()) << "the line after tabsync is read and ignored";
    EXPECT_FALSE(pollLines().contains("tabsync"));

    web->get("admin.php?action=add_employee&idx=9&chip=0000000000AA&name=Eva%20Mal%C3%A1");
    EXPECT_TRUE(pollLines().contains("tabsync"));
    EXPECT_FALSE(pollLines().contains("tabsync"));
}

// The bridge ignores replies of 30 bytes or less and turns each LF into CR LF itself.
TEST_F(StandInWebApp, EveryAnswerIsLongerThan30BytesWithLfLineEnds) {
    for (const char* request :
         {"kvsync.php?prikaz=1",
          "kvsync.php?prikaz=2&indexza=1&kod=5&typpr=1&misto=1&datum=2024-3-5%207:4:9",
          "kvsync.php?prikaz=2&indexza=2&kod=77&typpr=1&misto=1&datum=2024-3-5%207:4:9",
          "kvsync.php?prikaz=6&karta=5A5A5A5A0000&kod=5&typpr=1&misto=1&datum=2024-3-5%207:4:9",
          "kvsync.php?prikaz=4", "kvsync.php?prikaz=7&rok=1&mes=3&den=5&hod=7&min=4&sec=9",
          "kvsync.php?prikaz=3", "gcalc.php?firma=1"}) {
        SCOPED_TRACE(request);
        const QByteArray answer = web->get(request);
        EXPECT_GT(answer.size(), 30);
        EXPECT_FALSE(answer.contains('\r'));
        EXPECT_TRUE(answer.endsWith('\n'));
    }
}

TEST_F(StandInWebApp, EventsAreAnsweredWithTheWorkersNameInWindows1250) {
    // "Žofie Štěpánková" in Windows-1250.
    const QByteArray zofie =
        "\x8E"
        "ofie \x8At\xECp\xE1nkov\xE1";
    EXPECT_TRUE(
        web->get("kvsync.php?prikaz=2&indexza=1&kod=2&typpr=1&misto=1&datum=2024-3-5%207:4:9")
            .startsWith("---OK---\n" + zofie + "\n"));
    // Her card carries her chip number, low byte first.
    EXPECT_TRUE(web->get("kvsync.php?prikaz=6&karta=D5C3B2A10000&kod=1&typpr=1&misto=1&datum=2024-"
                         "3-5%207:4:9")
                    .startsWith("---OK---\n" + zofie + "\n"));
    EXPECT_TRUE(
        web->get("kvsync.php?prikaz=2&indexza=2&kod=6&typpr=1&misto=1&datum=2024-3-5%207:4:9")
            .startsWith("---Err--\nNezn\xE1m\xFD \xE8ip"));
    EXPECT_TRUE(web->get("kvsync.php?prikaz=6&karta=0000A1B2C3D5&kod=1&typpr=1&misto=1&datum=2024-"
                         "3-5%207:4:9")
                    .startsWith("---Err--\n"));

    const QJsonArray stored = web->events();
    ASSERT_EQ(stored.size(), 4);
    const QJsonObject first = stored[0].toObject();
    EXPECT_EQ(first["query"].toString(),
              "prikaz=2&indexza=1&kod=2&typpr=1&misto=1&datum=2024-3-5%207:4:9");
    EXPECT_EQ(first["datum"].toString(), "2024-3-5 7:4:9");
    EXPECT_EQ(first["name"].toString(), QString::fromUtf8("Žofie Štěpánková"));
    EXPECT_EQ(stored[1].toObject()["karta"].toString(), "D5C3B2A10000");
    EXPECT_EQ(stored[2].toObject()["ok"].toInt(), 0);
}

// Records in section 1, a separator, records in section 2; a removed employee is gone.
TEST_F(StandInWebApp, TablesFollowTheEmployees) {
    web->get("admin.php?action=remove_employee&idx=3");
    const QList<QByteArray> lines = web->get("kvsync.php?prikaz=1").split('\n');
    ASSERT_EQ(lines.size(), 9);  // 4 employees, separator, 3 categories, nothing after the last LF
    EXPECT_EQ(lines[0], "1|0000A1B2C3D4|0700|1|125");
    EXPECT_EQ(lines[3], "5|00005A5A5A5A|1400|3|0");
    EXPECT_TRUE(lines[4].startsWith("-------"));
    EXPECT_EQ(lines[5], "1|1|420|930|0");
    EXPECT_EQ(lines[8], "");
    EXPECT_EQ(web->tables(), lines.join('\n'));
}

}  // namespace
}  // namespace kv::e2e
