// Writes watch entries into a registry store, one short transaction each, and prints the name of
// every entry once its key and its "Annouce" value are both committed.
//
//   store_writer <store file> <name prefix> <count>    (count 0: go on until killed)
//
// Exit status 0 when every entry was written, 1 on the first failure.
#include "platform/RegistryStore.h"

#include <QByteArray>
#include <QString>

#include <unistd.h>

using namespace kelvoran::platform;

int main(int argc, char *argv[])
{
    if (argc != 4)
        return 2;
    RegistryStore store(QString::fromLocal8Bit(argv[1]));
    if (!store.isUsable())
        return 1;
    const QString prefix = QString::fromLocal8Bit(argv[2]);
    const long count = QByteArray(argv[3]).toLong();
    const KeyPath parent{QStringLiteral("Software"), QStringLiteral("Kelvoran"),
                         QStringLiteral("checklist")};
    for (long i = 0; count == 0 || i < count; ++i) {
        const QString name = prefix + QString::number(i);
        const KeyHandle key = store.createKey(KeyPath(parent) << name);
        if (key == kNoKey)
            return 1;
        const bool ok =
            store.setValue(key, QStringLiteral("Annouce"), kRegSz, QByteArray("YES", 4));
        store.closeKey(key);
        if (!ok)
            return 1;
        const QByteArray line = name.toUtf8() + '\n';
        if (::write(STDOUT_FILENO, line.constData(), size_t(line.size())) != line.size())
            return 1;
    }
    return 0;
}
