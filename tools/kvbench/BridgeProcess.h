#pragma once

// The real bridge in its own process, communication started automatically on port 1.

#include <sys/types.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <stdexcept>
#include <string>

#include "Bench.h"
#include "UnitSide.h"

namespace kvbench {

class BridgeProcess {
public:
    BridgeProcess(const QString& dir, const std::string& device, const QString& url, bool slowcom)
        : m_dir(dir) {
        QDir().mkpath(dir + "/c");
        QFile cfg(dir + "/terminal.cfg");
        if (!cfg.open(QIODevice::WriteOnly)) throw std::runtime_error("cannot write terminal.cfg");
        for (const QString& line :
             {QString("1"), url, QString("localhost"), QString("1"), QString("0"), QString("0"),
              QString(slowcom ? "1" : "0"), QString("0")})
            cfg.write(line.toLatin1() + "\r\n");
        cfg.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("KVBRIDGE_COM1", QString::fromStdString(device));
        env.insert("KVBRIDGE_DRIVE_C", dir + "/c");
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(dir);
        // To a file: a pipe nobody reads would stall the bridge once full.
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(dir + "/kvbridge.out");
    }
    ~BridgeProcess() {
        if (m_process.state() == QProcess::NotRunning) return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    // Starts the bridge and returns how long it took until the start frame reached the unit.
    double startMs(UnitSide& unit) {
        const auto spawned = Clock::now();
        m_process.start(KVE2E_KVBRIDGE, {});
        if (!m_process.waitForStarted(5000)) throw std::runtime_error("kvbridge did not start");
        const auto start = unit.nextWithCode(11, 15s);
        if (!start) throw std::runtime_error("no start frame; see " + m_dir.toStdString());
        return msBetween(spawned, start->at);
    }

    pid_t pid() const { return pid_t(m_process.processId()); }

private:
    QString m_dir;
    QProcess m_process;
};

// ---------------------------------------------------------------------------------------------

}  // namespace kvbench
