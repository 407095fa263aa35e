// The serial port through a real pseudo-terminal and the real termios set-up.
#include "internallink.h"
#include "internalprocessorsim.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

class tst_InternalLink : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir* m_sysroot = nullptr;
    InternalProcessorSim* m_sim = nullptr;
    InternalLink* m_link = nullptr;
    QSignalSpy* m_chunks = nullptr;

private slots:
    void init()
    {
        m_sysroot = new QTemporaryDir;
        qputenv("NORVIK_SYSROOT", m_sysroot->path().toLocal8Bit());
        m_sim = new InternalProcessorSim;
        QVERIFY(m_sim->open(m_sysroot->path()));
        m_link = new InternalLink;
        m_chunks = new QSignalSpy(m_link, &InternalLink::readyRead);
    }

    void cleanup()
    {
        delete m_chunks;
        delete m_link;
        delete m_sim;
        delete m_sysroot;
    }

    void lineIsConfigured()
    {
        const int fd = open(QFile::encodeName(m_sysroot->path() + "/dev/ttymxc0").constData(),
                            O_RDONLY | O_NOCTTY);
        QVERIFY(fd >= 0);
        termios t;
        QCOMPARE(tcgetattr(fd, &t), 0);
        close(fd);
        QCOMPARE(t.c_iflag, tcflag_t(0));
        QCOMPARE(t.c_oflag, tcflag_t(0));
        QCOMPARE(t.c_lflag, tcflag_t(ICANON));
        QCOMPARE(t.c_cflag & (CSIZE | CREAD | CLOCAL | PARENB | CSTOPB | CRTSCTS),
                 tcflag_t(CS8 | CREAD | CLOCAL));
        QCOMPARE(cfgetispeed(&t), speed_t(B230400));
        QCOMPARE(cfgetospeed(&t), speed_t(B230400));
    }

    void tricklingFrameArrivesWhole()
    {
        m_sim->setTrickle(1, 4);
        m_sim->sendPacket(1, 1, QByteArray("trickle, one byte at a time"));
        const QByteArray expected
            = InternalProcessorSim::frame(1, 0, 1, "trickle, one byte at a time");
        QTRY_COMPARE_WITH_TIMEOUT(m_chunks->count(), 1, 10000);
        QCOMPARE(m_chunks->at(0).at(0).toByteArray(), expected);
        QTest::qWait(50);
        QCOMPARE(m_chunks->count(), 1);
    }

    void backToBackFramesInOrder()
    {
        QByteArray burst;
        for (int i = 0; i < 20; ++i)
            burst += InternalProcessorSim::frame(1, quint8(i), 3, QByteArray(i, 'z'));
        m_sim->writeRaw(burst);
        QTRY_COMPARE(m_chunks->count(), 20);
        for (int i = 0; i < 20; ++i)
            QCOMPARE(m_chunks->at(i).at(0).toByteArray(),
                     InternalProcessorSim::frame(1, quint8(i), 3, QByteArray(i, 'z')));
    }

    void controlBytesPassUnchanged()
    {
        const QByteArray line = QByteArray::fromHex("820D11130300047F1A1C0D0A");
        m_sim->writeRaw(line);
        QTRY_COMPARE(m_chunks->count(), 1);
        QCOMPARE(m_chunks->at(0).at(0).toByteArray(), line);

        QSignalSpy lines(m_sim, &InternalProcessorSim::lineReceived);
        m_link->sendData(line);
        QTRY_COMPARE(lines.count(), 1);
        QCOMPARE(lines.at(0).at(0).toByteArray(), line);
    }

    void longLineArrivesInPieces()
    {
        const QByteArray line = QByteArray(1200, 'L') + '\n';
        m_sim->writeRaw(line);
        QTRY_VERIFY(!m_chunks->isEmpty());
        QByteArray joined;
        QTRY_VERIFY((joined =
                         [&] {
                             QByteArray all;
                             for (const auto& c : *m_chunks)
                                 all += c.at(0).toByteArray();
                             return all;
                         }())
                    == line);
        for (const auto& c : *m_chunks)
            QVERIFY(c.at(0).toByteArray().size() <= 512);
    }

    void injectedInput()
    {
        char bytes[3] = { 0x01, 0x0A, char(0x82) };
        m_link->readData(bytes, 3);
        QCOMPARE(m_chunks->count(), 1);
        QCOMPARE(m_chunks->at(0).at(0).toByteArray(), QByteArray(bytes, 3));
    }

    void missingDeviceIsSilent()
    {
        delete m_chunks;
        delete m_link;
        m_sim->closePort();
        m_link = new InternalLink;
        m_chunks = new QSignalSpy(m_link, &InternalLink::readyRead);
        m_link->sendData(QByteArray("nowhere\n"));
        QTest::qWait(100);
        QCOMPARE(m_chunks->count(), 0);
        char bytes[3] = { 'a', 'b', 'c' };
        m_link->readData(bytes, 3);
        QCOMPARE(m_chunks->count(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_InternalLink)
#include "tst_internallink.moc"
