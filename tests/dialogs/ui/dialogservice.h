// SPDX-License-Identifier: MIT
// What every dialog test sends through: the stand-in service with receiver 7 ("Room1") and a
// service client connected to it, made anew for each test function.
#pragma once

#include "serviceclient.h"
#include "standin.h"

#include <QTest>

class CDialogService
{
protected:
    std::unique_ptr<CStandIn> service;
    std::unique_ptr<CServiceClient> client;

    void StartService()
    {
        service = std::make_unique<CStandIn>(std::vector<std::string>{"--receiver", "7:Room1"});
        client = std::make_unique<CServiceClient>();
        QVERIFY(client->IsConnected());
    }
    void StopService()
    {
        client.reset();
        service.reset();
    }
};
