#ifndef NORVIK_SIM_STANDINS_H
#define NORVIK_SIM_STANDINS_H

// Everything around the library on the desk, as one object: a private copy of the
// sample installation with "crane" running and its base unit at the given address, a
// temporary sysroot with the machine-stop line as files (released) and the serial
// device, the launcher socket in a private folder (TMPDIR), the internal processor
// stand-in with its service peers (the remote's identity 4660), the base unit (39,
// listening on port 1147 of that address), the launcher, NetworkManager on a bus
// daemon of its own (so the library never reaches the machine's system bus) and the
// I2C bus with the battery gauge, backlight and light sensor, in force while it lives.
// Without an address the application names no base unit ("GSIP") and none is started.

#include "baseunitsimulator.h"
#include "configurationpeer.h"
#include "internalprocessorsim.h"
#include "launchersimulator.h"
#include "networkmanagerbus.h"
#include "notificationpeer.h"
#include "processdatapeer.h"
#include "remoteworld.h"
#include "sampleinstall.h"
#include "simulatedi2cbus.h"
#include "systemeventpeer.h"

#include <QHostAddress>
#include <QSettings>
#include <QTemporaryDir>

class StandIns
{
public:
    explicit StandIns(const QString& baseUnitAddress = QStringLiteral("127.0.0.1"))
    {
        m_valid = setUp(baseUnitAddress);
    }
    StandIns(const StandIns&) = delete;
    StandIns& operator=(const StandIns&) = delete;

    bool isValid() const { return m_valid; }
    // Sets keys ("group/key") of the running application's web-services file, such as
    // "restapi/enabled"; the base unit is given the changed configuration.
    bool setWebServices(const QVariantMap& keys)
    {
        const QString crane = sample.appDir(QStringLiteral("crane"));
        QSettings config(crane + QStringLiteral("/config/webservices.cfg"), QSettings::IniFormat);
        for (auto it = keys.cbegin(); it != keys.cend(); ++it)
            config.setValue(it.key(), it.value());
        config.sync();
        baseUnit.setAppDir(crane);
        return config.status() == QSettings::NoError;
    }
    QString stopButton() const { return remoteworld::stopButton(sysroot.path()); }
    // The stand-ins record everything that reaches them, for tests to look at; a run that
    // goes on for hours forgets those records from time to time.
    void forgetRecords()
    {
        ip.clearReceived();
        parameters.clearRequests();
        notifications.clearReceived();
        process.clearStatusFrames();
        baseUnit.clearReceived();
        launcher.clearReceived();
        i2c.clearTrace();
    }

    SampleInstall sample;
    QTemporaryDir sysroot;
    QTemporaryDir runtime;
    InternalProcessorSim ip;
    SystemEventPeer events { &ip };
    ConfigurationPeer parameters { &ip };
    NotificationPeer notifications { &ip };
    ProcessDataPeer process { &ip };
    BaseUnitSimulator baseUnit;
    LauncherSimulator launcher;
    NetworkManagerBus networkManager;
    SimulatedI2cBus i2c;

private:
    bool setUp(const QString& baseUnitAddress)
    {
        // The application checksum covers the configuration: it changes before the base
        // unit reads it.
        const QString crane = sample.appDir(QStringLiteral("crane"));
        QByteArray config = remoteworld::readFile(crane + QStringLiteral("/config/app.csv"));
        const QByteArray gsip = "GSIP;127.0.0.1;Base Unit IP Address\n";
        config.replace(gsip,
                       baseUnitAddress.isEmpty()
                           ? QByteArray()
                           : QByteArray(gsip).replace("127.0.0.1", baseUnitAddress.toLatin1()));
        if (!sample.isValid() || !sysroot.isValid() || !runtime.isValid()
            || !remoteworld::writeFile(crane + QStringLiteral("/config/app.csv"), config)
            || !remoteworld::prepareSysroot(sysroot.path()))
            return false;
        sample.useApp(QStringLiteral("crane"));
        qputenv("NORVIK_SYSROOT", QFile::encodeName(sysroot.path()));
        qputenv("TMPDIR", QFile::encodeName(runtime.path()));
        parameters.setValue("RUID", 4660);
        baseUnit.setBaseId(39);
        baseUnit.setAppDir(crane);
        i2c.install();
        return ip.open(sysroot.path())
            && process.loadLayout(sample.sharedConfigDir()
                                  + QStringLiteral("/remoteInternalInputTags.csv"))
            && (baseUnitAddress.isEmpty() || baseUnit.listen(QHostAddress(baseUnitAddress), 1147))
            && launcher.listen() && networkManager.start();
    }

    bool m_valid = false;
};

#endif
