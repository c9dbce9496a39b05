// SPDX-License-Identifier: MIT
// The service programs run with QProcess, which captures what they write and their exit status.

#include "servicerunner.h"
#include "commandline.h"

#include <QProcess>
#include <QTimer>

CServiceCommandRunner::CServiceCommandRunner(Report report, QObject* pParent)
    : QObject(pParent), m_report(std::move(report))
{
}

CServiceCommandRunner::~CServiceCommandRunner()
{
    for (CRun* pRun : m_runs)
    {
        for (QProcess* pProcess : pRun->processes)
            if (pProcess)
            {
                pProcess->disconnect();
                // Not deleted: its destructor would end the program. The operating system
                // takes the rest when the window's process ends.
                if (pProcess->state() == QProcess::NotRunning)
                    delete pProcess;
            }
        delete pRun;
    }
}

void CServiceCommandRunner::Run(const std::string& directory, const std::string& sw)
{
    auto* pRun = new CRun;
    pRun->sw = sw;
    m_runs.push_back(pRun);
    pRun->outcomes.resize(2);
    pRun->processes.resize(2, nullptr);
    pRun->outcomes[0].program = HARDWARE_SERVICE_PROGRAM;
    pRun->outcomes[1].program = SOFTWARE_SERVICE_PROGRAM;
    Start(pRun, 0, directory + HARDWARE_SERVICE_PROGRAM);
    if (pRun->outcomes[0].bRan)
        Start(pRun, 1, directory + SOFTWARE_SERVICE_PROGRAM);
    else
        pRun->outcomes.resize(1); // the software program is not run without the hardware one
    if (pRun->iPending == 0)
        Finish(pRun);
    else
        QTimer::singleShot(WAIT_MS, this,
                           [this, pRun]
                           {
                               if (std::find(m_runs.begin(), m_runs.end(), pRun) != m_runs.end())
                                   Finish(pRun);
                           });
}

void CServiceCommandRunner::Start(CRun* pRun, size_t iIndex, const std::string& path)
{
    // The same words that the quoted command line gives the program.
    const std::vector<std::string> words = SplitCommandLine(ServiceCommandLine(path, pRun->sw));
    QStringList arguments;
    for (size_t i = 1; i < words.size(); ++i)
        arguments << QString::fromStdString(words[i]);
    auto* pProcess = new QProcess;
    pProcess->setProcessChannelMode(QProcess::MergedChannels);
    pProcess->setProgram(QString::fromStdString(words.empty() ? path : words[0]));
    pProcess->setArguments(arguments);
    pProcess->start(QIODevice::ReadOnly);
    ServiceProgramOutcome& outcome = pRun->outcomes[iIndex];
    if (!pProcess->waitForStarted(5000)) // fork and exec only: a missing program says so at once
    {
        outcome.error = pProcess->errorString().toStdString();
        delete pProcess;
        return;
    }
    outcome.bRan = true;
    pRun->processes[iIndex] = pProcess;
    ++pRun->iPending;
    connect(pProcess, &QProcess::readyRead, this,
            [pProcess, &outcome] { outcome.output += pProcess->readAll().toStdString(); });
    connect(pProcess, &QProcess::finished, this, [this, pRun, iIndex] { Ended(pRun, iIndex); });
}

void CServiceCommandRunner::Ended(CRun* pRun, size_t iIndex)
{
    QProcess* pProcess = pRun->processes[iIndex];
    ServiceProgramOutcome& outcome = pRun->outcomes[iIndex];
    outcome.output += pProcess->readAll().toStdString();
    outcome.bFinished = true;
    outcome.iExitCode = pProcess->exitStatus() == QProcess::NormalExit ? pProcess->exitCode() : -1;
    pRun->processes[iIndex] = nullptr;
    pProcess->deleteLater();
    if (--pRun->iPending == 0)
        Finish(pRun);
}

void CServiceCommandRunner::Finish(CRun* pRun)
{
    std::erase(m_runs, pRun);
    for (QProcess* pProcess : pRun->processes)
        if (pProcess)
            pProcess->disconnect(this); // still running: it goes on alone
    const std::string sw = pRun->sw;
    const std::vector<ServiceProgramOutcome> outcomes = pRun->outcomes;
    delete pRun;
    m_report(sw, outcomes);
}
