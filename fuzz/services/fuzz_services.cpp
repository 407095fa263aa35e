// Arbitrary payloads for all six internal-link services as the transport hands
// them over, arbitrary messages for the R-Uzad tunnel as the base-unit manager
// hands them over, and the tunnel's reassembled messages on into the R-Uzad
// connection's fallback input, the way the manager passes them on.
//
// The services run on the sample installation's tag tables and the crane
// application's configuration, so process-data frames are decoded into the real
// RIIT tags and the configuration walk stores into the real identity tags.
//
// One input is a sequence of operations: an operation byte, then a payload (both
// taken by FuzzedDataProvider, the operation bytes from the end of the input).
//   bits 0-2: 0-5 the service id whose readData gets the payload, 6 the tunnel's
//             send, 7 a control operation
//   bits 3-4: the message class (control: which control operation)
//
// What the services promise and is checked on every operation:
// - a class-2 request gets exactly one class-3 answer (none from process data),
//   or the transport pairs later answers with the wrong request;
// - a class-3 answer of the configuration walk brings at most one new request,
//   of four bytes;
// - no tunnel block is larger than 252 bytes;
// - a process-data frame leaves every RIIT tag holding its slice of the frame,
//   zero-filled past the frame's end;
// - the outgoing process-data frame keeps its layout: every integer field has
//   its tag's byte size, whatever value the tag holds.
#include "app.h"
#include "cfallbackservice.h"
#include "configurationservice.h"
#include "connection.h"
#include "gfallbackservice.h"
#include "notificationservice.h"
#include "processdata.h"
#include "processdataelement.h"
#include "systemeventservice.h"
#include "tagdatabase.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

namespace {
void quiet(QtMsgType type, const QMessageLogContext&, const QString&)
{
    if (type == QtFatalMsg)
        std::abort();
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

struct Emitted
{
    int answers = 0; // class 3
    int requests = 0; // class 2
    int badRequests = 0; // class 2 of the configuration walk not four bytes long
};

struct Services
{
    TagDatabase tags;
    App* crane = nullptr;
    ServiceBase* byId[6] = {};
    ProcessData* processData = nullptr;
    ConfigurationService* configuration = nullptr;
    GFallbackService* tunnel = nullptr;
    RUzad::Connection* ruzad = nullptr;
    QVector<Tag*> riit;
    QVector<Tag*> outgoing;
    Emitted emitted[6];
};

Services* setUp()
{
    static int argc = 1;
    static char name[] = "fuzz_services";
    static char* argv[] = { name, nullptr };
    qInstallMessageHandler(quiet);
    new QCoreApplication(argc, argv);
    // The sample installation is only read: tag tables and the crane's tables.
    const QByteArray craneDir = NORVIK_SAMPLE_DIR "/Applications/crane";
    qputenv("NORVIK_APP_DIR", craneDir);
    setenv("NORVIK_SYSROOT", "/nonexistent-norvik-fuzz-root", 1);

    // Powering down runs "sync"; thousands of runs an hour must not flush the
    // machine's disks, so a "sync" that does nothing comes first in PATH.
    static QTemporaryDir bin;
    QFile sync(bin.filePath(QStringLiteral("sync")));
    if (!bin.isValid() || !sync.open(QIODevice::WriteOnly) || sync.write("#!/bin/sh\n") < 0)
        std::abort();
    sync.close();
    sync.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + qgetenv("PATH"));

    auto* s = new Services;
    s->tags.prePopulate();
    s->crane = new App(QStringLiteral("crane"), QString::fromLocal8Bit(craneDir));
    s->processData = new ProcessData(&s->tags);
    s->configuration = new ConfigurationService(&s->tags);
    s->configuration->setConfigurationParameters(s->crane);
    s->tunnel = new GFallbackService;
    s->byId[SERV_ID_SYSTEM_EVENT] = new SystemEventService;
    s->byId[SERV_ID_PROCESS_DATA] = s->processData;
    s->byId[SERV_ID_CONFIGURATION] = s->configuration;
    s->byId[SERV_ID_NOTIFICATION] = new NotificationService;
    s->byId[SERV_ID_CFALLBACK] = new CFallbackService;
    s->byId[SERV_ID_GFALLBACK] = s->tunnel;
    s->ruzad = new RUzad::Connection(0x42, 0x1234,
                                     QByteArray::fromHex("00112233445566778899aabbccddeeff"));
    QObject::connect(s->tunnel, &GFallbackService::receive, s->ruzad,
                     &RUzad::Connection::handleFallback);

    for (int id = 0; id < 6; ++id) {
        Emitted* counts = &s->emitted[id];
        const bool tunnel = id == SERV_ID_GFALLBACK;
        const bool walk = id == SERV_ID_CONFIGURATION;
        QObject::connect(s->byId[id], &ServiceBase::readyReadFromService,
                         [counts, tunnel, walk](const QByteArray& block, Link, quint8, quint8 cls) {
                             if (tunnel)
                                 check(block.size() <= 252);
                             if (cls == MSG_CLASS_ACK)
                                 ++counts->answers;
                             if (cls == MSG_CLASS_SERVICE_ACK) {
                                 ++counts->requests;
                                 if (walk && block.size() != 4)
                                     ++counts->badRequests;
                             }
                         });
    }
    for (int i = 0; i < s->tags.size(); ++i) {
        Tag* tag = s->tags.at(i);
        if (tag && tag->getHostLink() == Tag::RIIT)
            s->riit.append(tag);
    }
    check(!s->riit.isEmpty());
    for (const ProcessdataElement* element : s->processData->elements()) {
        check(element->getTag() != nullptr);
        s->outgoing.append(element->getTag());
    }
    return s;
}

// A value for one of the outgoing tags, of a type the payload picks.
QVariant valueFrom(const QByteArray& payload)
{
    if (payload.isEmpty())
        return QVariant();
    const QByteArray rest = payload.mid(1);
    qint64 number = 0;
    for (int k = 0; k < rest.size() && k < 8; ++k)
        number |= qint64(quint8(rest.at(k))) << (8 * k);
    switch (quint8(payload.at(0)) % 6) {
    case 0:
        return QVariant(int(number));
    case 1:
        return QVariant(quint64(number));
    case 2:
        return QVariant(rest);
    case 3:
        return QVariant(QString::fromUtf8(rest));
    case 4:
        return QVariant(double(number) / 7.0);
    default:
        return QVariant(bool(number & 1));
    }
}

void checkOutgoingFrame(Services* s)
{
    QByteArray frame;
    const QMetaObject::Connection taken = QObject::connect(
        s->processData, &ServiceBase::readyReadFromService,
        [&frame](const QByteArray& data, Link, quint8, quint8) { frame = data; });
    s->processData->storeAndSendProcessData();
    QObject::disconnect(taken);
    const QVector<ProcessdataElement*>& elements = s->processData->elements();
    int expected = 0;
    for (int i = 0; i < elements.size(); ++i) {
        const Tag* tag = s->outgoing.at(i);
        const int size = elements.at(i)->getValue().size();
        if (tag->getDataType() != TDBT_RAW)
            check(size == tag->getByteSize());
        expected += size;
    }
    check(frame.size() == expected);
}

void checkRiit(const Services* s, const QByteArray& frame)
{
    for (const Tag* tag : s->riit) {
        const int start = tag->getStartByte();
        QByteArray slice = frame.mid(start, tag->getByteSize());
        slice.append(QByteArray(tag->getByteSize() - slice.size(), '\0'));
        check(tag->getRawData() == slice);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Services* const s = setUp();

    // Each input starts from a quiet tunnel and no configuration walk.
    s->tunnel->reset();
    s->ruzad->resetFallback();
    s->configuration->internalLinkFailed();

    FuzzedDataProvider input(data, size);
    while (input.remaining_bytes() > 0) {
        const uint8_t op = input.ConsumeIntegral<uint8_t>();
        const std::string chunk = input.ConsumeRandomLengthString(1024);
        const QByteArray payload(chunk.data(), int(chunk.size()));
        const int target = op & 0x07;
        const quint8 cls = (op >> 3) & 0x03;

        if (target < 6) {
            Emitted& emitted = s->emitted[target];
            const Emitted before = emitted;
            s->byId[target]->readData(payload, Internal, cls);
            if (cls == MSG_CLASS_SERVICE_ACK)
                check(emitted.answers - before.answers == (target == SERV_ID_PROCESS_DATA ? 0 : 1));
            if (target == SERV_ID_CONFIGURATION && cls == MSG_CLASS_ACK)
                check(emitted.requests - before.requests <= 1);
            if (target == SERV_ID_PROCESS_DATA && cls != MSG_CLASS_ACK)
                checkRiit(s, payload);
            check(emitted.badRequests == 0);
        } else if (target == 6) {
            s->tunnel->send(payload);
        } else {
            switch (cls) {
            case 0:
                s->tunnel->reset();
                break;
            case 1:
                s->configuration->requestConfigurationParameters();
                break;
            case 2:
                s->configuration->internalLinkFailed();
                s->configuration->internalLinkRestored();
                break;
            default:
                if (!payload.isEmpty()) {
                    Tag* tag = s->outgoing.at(quint8(payload.at(0)) % s->outgoing.size());
                    tag->setValue(valueFrom(payload.mid(1)));
                }
                checkOutgoingFrame(s);
                break;
            }
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
