#pragma once

// The bridge, the unit simulator and the stand-in web application started as real programs for
// one test, with what each of them saw.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonValue>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <iostream>
#include <map>
#include <memory>
#include <set>

#include "e2e/Rig.h"
#include "support/WebStub.h"

namespace kv::e2e {

// The seeded employees in table order, so a unit holding these chips in this order reports
// position n as kod n, and the name each one carries on the unit: diacritics stripped, cut to
// the fifteen characters of an answer frame.
struct Worker {
    int kod;
    const char* chip;
    const char* onUnit;
};
inline const Worker kWorkers[] = {
    {1, "0000A1B2C3D4", "Jiri Dvorak"},    {2, "0000A1B2C3D5", "Zofie Stepankov"},
    {3, "04F31A2B3C4D", "Vaclav Ruzicka"}, {4, "000099887766", "Ludmila Cermako"},
    {5, "00005A5A5A5A", "Ondrej Kus"},
};
// Sixth on the unit's list, so kod 6, which the web application does not know.
inline const char* const kUnknownChip = "0000DEADBEEF";

// The card number as the bridge forwards it: the unit sends the card low byte first.
inline QString cardOf(const QString& chip) {
    QString card;
    for (int i = chip.size() - 2; i >= 0; i -= 2) card += chip.mid(i, 2);
    return card;
}

// Balance codec of the unit: hours with flags, minutes with flag.
inline std::pair<int, int> balanceBytes(int minutes) {
    const bool negative = minutes < 0;
    const int m = (negative ? -minutes : minutes) % 65536;
    const int h = m / 60, n = m % 60;
    if (negative) return h < 100 ? std::pair{h + 128, n} : std::pair{227, 99};
    if (h < 100) return {h, n};
    if (h < 200) return {h - 100, n + 128};
    if (h < 300) return {h - 200 + 128, n + 128};
    return {227, 227};
}

// The records the unit must hold after downloading a table reply, in the simulator's notation.
inline QStringList expectedUnitTables(const QByteArray& reply) {
    QStringList records;
    bool section2 = false;
    for (const QByteArray& line : reply.split('\n')) {
        if (line.startsWith("-------")) {
            section2 = true;
            continue;
        }
        const QList<QByteArray> f = line.split('|');
        if (f.size() != 5) continue;
        if (!section2) {
            const QByteArray hhmm = f[2].rightJustified(4, '0');
            const auto [b13, b14] = balanceBytes(f[4].toInt());
            records << QString("S1 %1 %2 %3 %4 %5 %6")
                           .arg(f[0].toInt())
                           .arg(QString::fromLatin1(f[1]))
                           .arg(QString::fromLatin1(hhmm))
                           .arg(f[3].toInt())
                           .arg(b13)
                           .arg(b14);
        } else {
            const int from = f[2].toInt(), to = f[3].toInt();
            records << QString("S2 %1 %2 %3 %4 %5 %6 %7")
                           .arg(f[0].toInt())
                           .arg(f[1].toInt())
                           .arg(from / 60)
                           .arg(from % 60)
                           .arg(to / 60)
                           .arg(to % 60)
                           .arg(f[4].toInt());
        }
    }
    return records;
}

inline QStringList readLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromLatin1(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

inline int count(const QJsonObject& summary, const char* key) {
    return summary.value(key).toInt(-1);
}

inline QStringList names(const QJsonObject& summary) {
    QStringList out;
    for (const QJsonValue& v : summary.value("names").toArray()) out << v.toString();
    return out;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_tmp.isValid());
        QDir root(m_tmp.path());
        for (const char* sub : {"work", "c", "sim", "web"}) ASSERT_TRUE(root.mkpath(sub));
        web = std::make_unique<WebApp>(dir("web"), dir("c"));
        web->start();
        sim = std::make_unique<Simulator>(dir("sim"));
        bridge = std::make_unique<Bridge>(dir("work"), dir("c"));
    }

    void TearDown() override {
        if (!bridge) return;
        if (m_bridgeStarted) {
            EXPECT_TRUE(bridge->running()) << "the bridge ended early:\n"
                                           << bridge->output().toStdString();
        }
        bridge->stop();
        const QByteArray out = bridge->output() + sim->output() + sim->log();
        EXPECT_FALSE(hasSanitizerReport(out)) << out.toStdString();
        if (HasFailure()) {
            // Kept for a look: the simulator's log, the web application's database and log.
            m_tmp.setAutoRemove(false);
            QFile log(dir("work") + "/kvbridge.output");
            if (log.open(QIODevice::WriteOnly)) log.write(bridge->output());
            std::cerr << "files of this run kept in " << m_tmp.path().toStdString() << "\n";
        }
    }

    QString dir(const char* sub) const { return m_tmp.path() + "/" + sub; }

    // The unit holds the seeded chips in table order and then one unknown chip.
    QString chipList() const {
        const QString path = dir("sim") + "/chips.txt";
        QFile f(path);
        if (f.open(QIODevice::WriteOnly)) {
            for (const Worker& w : kWorkers) f.write(QByteArray(w.chip) + "\n");
            f.write(QByteArray(kUnknownChip) + "\n");
        }
        return path;
    }

    void startUnitAndBridge(const QStringList& simArgs, const QString& webUrl = {}) {
        sim->start(simArgs);
        bridge->start(sim->device(), webUrl.isEmpty() ? web->baseUrl() : webUrl);
        m_bridgeStarted = true;
    }

    void expectFinished(std::chrono::milliseconds within) {
        ASSERT_TRUE(sim->waitFinished(within))
            << "the simulator did not end cleanly; its log:\n"
            << sim->log().right(4000).toStdString() << "\nthe bridge:\n"
            << bridge->output().right(4000).toStdString();
    }

    // Every event the unit sent was answered or given up, and the web application stored each
    // event that reached it once: chip events by their index, card events by their number.
    void expectEventsAccountedFor(const QJsonObject& summary, const QJsonArray& stored) {
        EXPECT_EQ(count(summary, "answered") + count(summary, "timed_out"),
                  count(summary, "events_sent"));
        EXPECT_EQ(count(summary, "pending_at_end"), 0);
        EXPECT_EQ(count(summary, "unexpected_answers"), 0);
        std::set<QString> indexes;
        int ok = 0;
        for (const QJsonValue& v : stored) {
            const QJsonObject e = v.toObject();
            if (e["prikaz"].toInt() == 2) {
                EXPECT_TRUE(indexes.insert(e["indexza"].toString()).second)
                    << "event " << e["indexza"].toString().toStdString() << " stored twice";
            }
            if (e["ok"].toInt() == 1) ++ok;
        }
        EXPECT_EQ(ok, count(summary, "answered"));
    }

    std::unique_ptr<WebApp> web;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<Bridge> bridge;
    bool m_bridgeStarted = false;  // and expected to run to the end of the test

private:
    QTemporaryDir m_tmp;
};

// Chip events asking for the name, card events every fourth, the unknown chip and its card
// among them: every known worker's name arrives on the unit, the unknown ones are refused.

}  // namespace kv::e2e
