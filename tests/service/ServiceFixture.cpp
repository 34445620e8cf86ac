#include "ServiceFixture.h"

#include "link/TarnCodes.h"
#include "link/TarnFrame.h"

ServiceFixture::ServiceFixture(bool modeSwitching, int repeats) : setup(repeats)
{
    engine.setLink(&setup.link);
    engine.setPrompt(&prompt);
    engine.setReaderFindings(false, false, modeSwitching);
    setup.sim.setModeSwitching(modeSwitching);
    setup.sim.setInserted(true);
}

ServiceFixture::~ServiceFixture() = default;

bool ServiceFixture::start()
{
    return setup.startReader();
}

QByteArray ServiceFixture::request(quint8 function, quint8 selector, const QByteArray &body)
{
    return buildPacket(BroadcastAddress, MonitorAddress, function, selector, body);
}

QByteArray ServiceFixture::modeRequest(quint8 mode)
{
    return request(TarnCodes::FnWrite, TarnCodes::SelRegister, readerModeBody(mode));
}

QByteArray ServiceFixture::configRequest()
{
    return request(TarnCodes::FnRead, TarnCodes::SelRegister, readerConfigReadBody());
}

int ServiceFixture::countOf(const QList<QByteArray> &log, const QByteArray &request)
{
    int n = 0;
    for (const QByteArray &r : log)
        if (r == request)
            ++n;
    return n;
}
