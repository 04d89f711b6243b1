// The bridge left alone, as real programs: one bridge per directory, a clean end on SIGTERM, a
// lost port that comes back, and the service mode without a window.
#include <gtest/gtest.h>

#include "e2e/EndToEndFixture.h"

namespace kv::e2e {
namespace {

// A second start in the same directory asks the running bridge for its window and ends; SIGTERM
// then ends the running bridge as closing its window does: status 0, no reply files of the
// request under way, no lock left.
TEST_F(EndToEnd, ASecondStartDefersToTheFirstAndSigtermEndsCleanly) {
    // It takes the request and never answers, so get.tmp stays open.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    startUnitAndBridge(
        {"--chips", chipList(), "--events", "1", "--interval", "1", "--answer-timeout", "60"},
        QString("http://127.0.0.1:%1/").arg(silent.serverPort()));
    const QDir work(dir("work"));
    ASSERT_TRUE(waitUntil([&] { return work.exists("get.tmp"); }, scaled(20s)))
        << bridge->output().toStdString();

    Bridge second(dir("work"), dir("c"));
    second.start(sim->device(), web->baseUrl());
    EXPECT_EQ(second.waitFinished(scaled(10s)), 0) << second.output().toStdString();
    EXPECT_TRUE(second.output().contains("already runs in")) << second.output().toStdString();
    EXPECT_TRUE(
        bridge->waitForOutput("a second start in this directory asked for the window", scaled(5s)));
    ASSERT_TRUE(bridge->running());

    m_bridgeStarted = false;
    EXPECT_EQ(bridge->waitFinished(scaled(5s), true), 0) << bridge->output().toStdString();
    for (const char* left : {"get.tmp", "get.txt", "kvbridge.lock"})
        EXPECT_FALSE(work.exists(left)) << left;
    QFile log(work.filePath("kvbridge.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray logged = log.readAll();
    EXPECT_TRUE(logged.contains("signal 15 received") && logged.contains("kvbridge ended"))
        << logged.toStdString();
}

// The unit's device goes away (its converter unplugged) and another device comes up behind the
// same path (another program's, another unit's): the bridge says so and keeps waiting for its
// own, so nothing of the other reaches this web application and nothing is sent to it.
TEST_F(EndToEnd, ALostPortIsNotResumedOnAnotherDevice) {
    const QString link = dir("work") + "/unit";
    sim->start({"--chips", chipList(), "--events", "1", "--interval", "1", "--forever"});
    ASSERT_TRUE(QFile::link(sim->device(), link));
    bridge->start(link, web->baseUrl());
    m_bridgeStarted = true;
    ASSERT_TRUE(waitUntil([&] { return web->events().size() == 1; }, scaled(20s)));

    ASSERT_TRUE(sim->stop());
    EXPECT_TRUE(bridge->waitForOutput("ztracen, čekám na jeho návrat", scaled(5s)))
        << bridge->output().toStdString();
    Simulator again(dir("sim") + "/again");
    ASSERT_TRUE(QDir().mkpath(dir("sim") + "/again"));
    again.start({"--chips", chipList(), "--events", "1", "--interval", "1"});
    ASSERT_TRUE(QFile::remove(link) && QFile::link(again.device(), link));
    EXPECT_TRUE(bridge->waitForOutput("jiné zařízení", scaled(10s)))
        << bridge->output().toStdString();
    EXPECT_FALSE(bridge->output().contains("je zpět")) << bridge->output().toStdString();
    EXPECT_EQ(web->events().size(), 1);
    again.stop();
}

// The service mode: no window, no display; it forwards an event, logs what happened (the
// decoded event, a request that failed and why) and ends on SIGTERM at once, cleanly.
TEST_F(EndToEnd, TheServiceForwardsEventsAndEndsCleanlyOnSigterm) {
    sim->start(
        {"--chips", chipList(), "--events", "2", "--interval", "2", "--answer-timeout", "60"});
    bridge->start(sim->device(), web->baseUrl(), {"--service"});
    m_bridgeStarted = true;
    const QDir work(dir("work"));
    const auto cfg = [&] {
        QFile f(work.filePath("terminal.cfg"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray cfgAtStart = cfg();
    ASSERT_TRUE(waitUntil([&] { return web->events().size() == 1; }, scaled(20s)))
        << bridge->output().toStdString();
    web->stop();
    ASSERT_TRUE(bridge->waitForOutput("no whole document", scaled(20s)))
        << bridge->output().toStdString();

    m_bridgeStarted = false;
    EXPECT_EQ(bridge->waitFinished(scaled(1s), true), 0) << bridge->output().toStdString();
    for (const char* left : {"get.tmp", "get.txt", "kvbridge.lock"})
        EXPECT_FALSE(work.exists(left)) << left;
    EXPECT_EQ(cfg(), cfgAtStart);
    QFile log(work.filePath("kvbridge.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString logged = QString::fromUtf8(log.readAll());
    for (const char* expected : {"event 1 from the unit: kod 1", "event 2 from the unit: kod 2",
                                 "spojení odmítnuto", "communication: stopped", "kvbridge ended"})
        EXPECT_TRUE(logged.contains(QString::fromUtf8(expected))) << expected << "\n"
                                                                  << logged.toStdString();
    EXPECT_FALSE(logged.contains("debug")) << "raw bytes only when asked for";
}

}  // namespace
}  // namespace kv::e2e
