// Fuzz target: a hostile phone in a backup or restore. The input is a
// 4-byte big-endian length, a property list of that length (an array of
// device-link messages, delivered in order) and the raw bytes the phone
// streams after the first message. Files land in a fresh temporary folder;
// nothing may be written outside it, and no input may crash or hang.
#include "device/backup2tool.h"
#include "support/scriptedbackup2transport.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 5)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const quint32 length = (quint32(data[0]) << 24) | (quint32(data[1]) << 16) | (quint32(data[2]) << 8) | data[3];
    const qsizetype listLength = qMin<qsizetype>(length, bytes.size() - 4);
    const PlistCFType script = PlistCFType::parse(bytes.mid(4, listLength));
    const QByteArray raw = bytes.mid(4 + listLength);

    QTemporaryDir dir;
    if (!dir.isValid())
        return 0;
    auto state = std::make_shared<ScriptedBackup2State>();
    for (int i = 0; i < script.size(); ++i)
        state->push(script.at(i), i == 0 ? raw : QByteArray());
    backup2tool tool(QStringLiteral("00008030-001A2B3C4D5E6F70"), dir.path() + QStringLiteral("/root"));
    tool.setTransportFactory([state] { return std::make_unique<ScriptedBackup2Transport>(state); });
    tool.setSilenceLimit(50);
    Backup2Options options;
    options.op = data[4] & 1;
    QString error;
    try {
        tool.run(options, error);
    } catch (const std::exception&) {
        // Thrown texts are the expected outcome for most inputs.
    }
    return 0;
}
