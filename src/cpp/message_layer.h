#ifndef MESSAGE_LAYER_H
#define MESSAGE_LAYER_H

#include <QByteArray>
#include <QObject>

// Appends and checks the CRC-32 that protects every internal-link message.
class MessageLayer : public QObject
{
    Q_OBJECT

public:
    explicit MessageLayer(QObject* parent = nullptr);

    void add(QByteArray& data);
    void remove(QByteArray& data);
    bool check(QByteArray data);
};

#endif
