// SPDX-License-Identifier: MIT
// Runs the two service programs with one switch, beside the window: the hardware program first,
// the software one once the first has started, both side by side; when both have ended (or the
// time the window waits is over) it reports what became of each. Nothing here waits on the
// user-interface thread.
#pragma once

#include "servicecontrol.h"

#include <QObject>
#include <QString>

#include <functional>
#include <vector>

class QProcess;

class CServiceCommandRunner : public QObject
{
    Q_OBJECT
public:
    // How long the window waits for a program (a stop may take its 10 s and more).
    static constexpr int WAIT_MS = 30000;

    using Report = std::function<void(const std::string& sw,
                                      const std::vector<ServiceProgramOutcome>& outcomes)>;
    CServiceCommandRunner(Report report, QObject* pParent = nullptr);
    // A program still running is left to finish: ending it half-way through a stop or an
    // install would do more harm than its report is worth.
    ~CServiceCommandRunner() override;

    void Run(const std::string& directory, const std::string& sw);
    bool IsRunning() const { return !m_runs.empty(); }

private:
    struct CRun
    {
        std::string sw;
        std::vector<QProcess*> processes;
        std::vector<ServiceProgramOutcome> outcomes;
        int iPending = 0;
    };
    void Start(CRun* pRun, size_t iIndex, const std::string& path);
    void Ended(CRun* pRun, size_t iIndex);
    void Finish(CRun* pRun);

    Report m_report;
    std::vector<CRun*> m_runs;
};
