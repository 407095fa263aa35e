#ifndef NORVIK_SIM_STUCKBASEUNIT_H
#define NORVIK_SIM_STUCKBASEUNIT_H

#include <QString>
#include <QTcpSocket>

// A base unit that never accepts: its listen queue (of one) is kept full, so the kernel
// drops further connection requests and an attempt to reach it stays "connecting" for
// seconds, as with a base unit that is switched off behind a live network.
class StuckBaseUnit
{
public:
    StuckBaseUnit() = default;
    ~StuckBaseUnit();
    StuckBaseUnit(const StuckBaseUnit&) = delete;
    StuckBaseUnit& operator=(const StuckBaseUnit&) = delete;

    bool listen(const QString& address, quint16 port = 1147);

private:
    int m_fd = -1;
    QTcpSocket m_filler;
};

#endif
