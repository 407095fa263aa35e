#ifndef NORVIK_TESTS_CRANESETUP_H
#define NORVIK_TESTS_CRANESETUP_H

// The sample "crane" control-system application in a private copy, with its base unit at
// a loopback address of the test's own and its fallback mode chosen, and the tag database
// and application record the base-unit manager works with.

#include "app.h"
#include "remoteworld.h"
#include "sampleinstall.h"
#include "stuckbaseunit.h"
#include "tagdatabase.h"

#include <QRegularExpression>

#include <memory>

// The order in which the configuration walk asks for its parameters.
inline const QList<QByteArray>& configurationWalkOrder()
{
    static const QList<QByteArray> order
        = { "RCSR", "ECSR", "HWRV", "HWID", "RUID", "IRTY", "IJS1", "IJS2", "IJS3", "IJS4",
            "IEF1", "IEF2", "IEF3", "IEF4", "IEF5", "IEF6", "IEF7", "IEF8", "IENC" };
    return order;
}

class CraneSetup
{
public:
    // The fallback mode "GFBM" as given; a null QString removes the entry.
    bool setUp(const QString& baseUnitAddress, const QString& fallbackMode = QStringLiteral("2"),
               uint remoteId = 4660)
    {
        const QString path = appDir() + QStringLiteral("/config/app.csv");
        QString config = QString::fromUtf8(remoteworld::readFile(path));
        config.replace(QRegularExpression(QStringLiteral("\\nG(SIP|FBM);[^\\n]*")), QString());
        config += QStringLiteral("GSIP;%1;GSIP\n").arg(baseUnitAddress);
        if (!fallbackMode.isNull())
            config += QStringLiteral("GFBM;%1;GFBM\n").arg(fallbackMode);
        if (!install.isValid() || !remoteworld::writeFile(path, config.toUtf8()))
            return false;
        install.useApp(QStringLiteral("crane"));
        tags = std::make_unique<TagDatabase>();
        tags->prePopulate();
        app = std::make_unique<App>(QStringLiteral("crane_ui"), appDir());
        Tag* identity = tag("ru_identity");
        if (!identity)
            return false;
        identity->setValue(QVariant(remoteId));
        return true;
    }

    QString appDir() const { return install.appDir(QStringLiteral("crane")); }
    Tag* tag(const char* name) const { return tags->get(QString::fromLatin1(name)); }
    uint value(const char* name) const { return tag(name)->getValue().toUInt(); }

    SampleInstall install;
    std::unique_ptr<TagDatabase> tags;
    std::unique_ptr<App> app;
};

#endif
