#ifndef NORVIK_TESTS_DATASVCFIXTURE_H
#define NORVIK_TESTS_DATASVCFIXTURE_H

// What the configuration and process-data tests share: the sample
// installation with "crane" running and its tags loaded, and the order in
// which the configuration parameters are asked for.

#include "sampleinstall.h"
#include "tagdatabase.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QtTest>

inline const QList<QByteArray>& configurationWalkOrder()
{
    static const QList<QByteArray> order
        = { "RCSR", "ECSR", "HWRV", "HWID", "RUID", "IRTY", "IJS1", "IJS2", "IJS3", "IJS4",
            "IEF1", "IEF2", "IEF3", "IEF4", "IEF5", "IEF6", "IEF7", "IEF8", "IENC" };
    return order;
}

// Base of a test that wants fresh sample tags for every test function.
class SampleTagsTest : public QObject
{
    Q_OBJECT

protected:
    SampleInstall* m_sample = nullptr;
    TagDatabase* m_tags = nullptr;

private slots:
    void init()
    {
        m_sample = new SampleInstall;
        QVERIFY(m_sample->isValid());
        m_sample->useApp(QStringLiteral("crane"));
        m_tags = new TagDatabase;
        m_tags->prePopulate();
        QVERIFY(m_tags->get(QStringLiteral("ru_identity")));
    }

    void cleanup()
    {
        delete m_tags;
        delete m_sample;
        m_tags = nullptr;
        m_sample = nullptr;
    }
};

#endif
