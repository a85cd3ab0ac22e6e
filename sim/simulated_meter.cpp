#include "sim/simulated_meter.h"

#include "sim/sim_crc.h"

namespace meterlink {

namespace {

constexpr int MaxUnknownFrame = 256;

int byteAt(const QByteArray& bytes, int index) {
    return static_cast<quint8>(bytes.at(index));
}
int wordAt(const QByteArray& bytes, int index) {
    return byteAt(bytes, index) << 8 | byteAt(bytes, index + 1);
}
void appendWord(QByteArray& out, int value) {
    out.append(static_cast<char>((value >> 8) & 0xFF));
    out.append(static_cast<char>(value & 0xFF));
}

} // namespace

SimulatedMeter::SimulatedMeter(MeterLog log, int slaveId, quint32 seed)
    : slaveId_(slaveId), rng_(seed), registers_(RegisterCount, 0) {
    setLog(std::move(log));
}

void SimulatedMeter::setLog(MeterLog log) {
    log_ = std::move(log);
    display_.setRecordCount(log_.recordCount());
}

double SimulatedMeter::frameGapSeconds() const {
    const int baud = baud_ > 0 ? baud_ : 1200;
    return qMax(0.002, 3.5 * 10.0 / baud);
}

quint16 SimulatedMeter::holdingRegister(int address, double now) const {
    const int displayEnd = DisplayFirstRegister + MeterDisplay::LineCount * 10;
    if (address >= DisplayFirstRegister && address < displayEnd) {
        const int at = address - DisplayFirstRegister;
        const QByteArray line = display_.line(at / 10, now);
        return static_cast<quint16>(wordAt(line, (at % 10) * 2));
    }
    if (address >= StateFirstRegister && address < StateFirstRegister + StateRegisterCount)
        return static_cast<quint16>(wordAt(log_.stateBlock(), (address - StateFirstRegister) * 2));
    if (address >= 0 && address < RegisterCount)
        return registers_[static_cast<size_t>(address)];
    return 0;
}

std::vector<MeterReply> SimulatedMeter::receive(const QByteArray& bytes, double now) {
    std::vector<MeterReply> replies;
    if (bytes.isEmpty())
        return replies;
    if (!buffer_.isEmpty() && now - lastByteAt_ > frameGapSeconds())
        buffer_.clear();
    lastByteAt_ = now;
    buffer_.append(bytes);
    takeFrames(now, replies);
    return replies;
}

void SimulatedMeter::takeFrames(double now, std::vector<MeterReply>& replies) {
    while (buffer_.size() >= 2) {
        const int function = byteAt(buffer_, 1);
        int length = 0;
        if (function == 3) {
            length = 8;
        } else if (function == 96) {
            length = 9;
        } else if (function == 16) {
            if (buffer_.size() < 7)
                return;
            length = 9 + byteAt(buffer_, 6);
        } else {
            // No known length: the frame ends where its CRC does.
            for (int n = 4; n <= buffer_.size() && length == 0; ++n)
                if (hasValidSimCrc(buffer_.left(n)))
                    length = n;
            if (length == 0) {
                if (buffer_.size() > MaxUnknownFrame)
                    buffer_.clear();
                return;
            }
        }
        if (buffer_.size() < length)
            return;
        const QByteArray frame = buffer_.left(length);
        buffer_.remove(0, length);
        if (!hasValidSimCrc(frame))
            continue;
        const int slave = byteAt(frame, 0);
        if (slave != slaveId_ && slave != 0)
            continue;
        ++requests_;
        if (faults_.silent || (faults_.ignoreEvery > 0 && requests_ % faults_.ignoreEvery == 0))
            continue;
        QByteArray body;
        if (faults_.exceptionCode != 0 &&
            (faults_.exceptionFunction == 0 || faults_.exceptionFunction == function))
            body = exception(function, faults_.exceptionCode);
        else
            body = answer(frame.left(length - 2), now);
        // A broadcast is obeyed but never answered.
        if (slave == 0 || body.isEmpty())
            continue;
        replies.push_back(withFaults(withSimCrc(body)));
    }
}

QByteArray SimulatedMeter::answer(const QByteArray& frame, double now) {
    switch (byteAt(frame, 1)) {
    case 3:
        return readHolding(frame, now);
    case 16:
        return writeMultiple(frame, now);
    case 96:
        return readMemory(frame);
    default:
        return exception(byteAt(frame, 1), 1);
    }
}

QByteArray SimulatedMeter::exception(int function, int code) const {
    QByteArray out;
    out.append(static_cast<char>(slaveId_));
    out.append(static_cast<char>((function | 0x80) & 0xFF));
    out.append(static_cast<char>(code));
    return out;
}

QByteArray SimulatedMeter::readHolding(const QByteArray& frame, double now) {
    const int start = wordAt(frame, 2);
    const int count = wordAt(frame, 4);
    if (count < 1 || count > 125)
        return exception(3, 3);
    if (start + count > RegisterCount)
        return exception(3, 2);
    QByteArray out;
    out.append(static_cast<char>(slaveId_));
    out.append('\x03');
    out.append(static_cast<char>(2 * count));
    for (int address = start; address < start + count; ++address)
        appendWord(out, holdingRegister(address, now));
    return out;
}

QByteArray SimulatedMeter::writeMultiple(const QByteArray& frame, double now) {
    const int start = wordAt(frame, 2);
    const int count = wordAt(frame, 4);
    const int byteCount = byteAt(frame, 6);
    if (count < 1 || count > 123 || byteCount != 2 * count)
        return exception(16, 3);
    if (start + count > RegisterCount)
        return exception(16, 2);
    for (int i = 0; i < count; ++i) {
        const int address = start + i;
        const int value = wordAt(frame, 7 + 2 * i);
        registers_[static_cast<size_t>(address)] = static_cast<quint16>(value);
        if (address == KeyRegister && (value & 0xFF) == 0xFF) {
            const char key = static_cast<char>(value >> 8);
            keys_.append(key);
            display_.pressKey(key, now);
        }
    }
    return frame.left(6);
}

QByteArray SimulatedMeter::readMemory(const QByteArray& frame) {
    const int bank = byteAt(frame, 2);
    const int addressHi = byteAt(frame, 3);
    const int addressLo = byteAt(frame, 4);
    const int length = wordAt(frame, 5);
    QByteArray data;
    if (bank == MeterLog::ConfigBank) {
        const int channel = addressHi - 0x80;
        if (channel < 1 || channel > MeterLog::ChannelCount || addressLo != 0)
            return exception(96, 2);
        if (length > MaxLogLength)
            return exception(96, 3);
        data = log_.configBlock(channel).left(length);
        data.append(QByteArray(length - data.size(), '\xFF'));
    } else if (bank >= MeterLog::FirstLogBank && bank < MeterLog::ConfigBank) {
        if (addressHi < 0x80 || addressHi > 0xBF)
            return exception(96, 2);
        if (length > MaxLogLength)
            return exception(96, 3);
        if (silentAfter_ >= 0 && logReads_ >= silentAfter_) {
            silenced_ = true;
            return {};
        }
        ++logReads_;
        const qint64 offset =
            static_cast<qint64>(bank - MeterLog::FirstLogBank) * MeterLog::BankBytes +
            (addressHi - 0x80) * 256 + addressLo;
        data = log_.read(offset, 2 * length);
    } else {
        return exception(96, 2);
    }
    QByteArray out = frame.left(5);
    appendWord(out, static_cast<int>(data.size()));
    out.append(data);
    return out;
}

MeterReply SimulatedMeter::withFaults(QByteArray answer) {
    ++answers_;
    if (faults_.badCrcEvery > 0 && answers_ % faults_.badCrcEvery == 0)
        answer[answer.size() - 1] = static_cast<char>(answer.back() ^ 0x5A);
    if (faults_.truncateAfter >= 0)
        answer.truncate(faults_.truncateAfter);
    if (faults_.noise)
        answer.prepend(static_cast<char>(rng_() & 0xFF));
    MeterReply reply;
    reply.bytes = answer;
    // A slave keeps the line quiet for 3.5 characters before it answers.
    reply.delaySeconds = faults_.delaySeconds + (baud_ > 0 ? 3.5 * 10.0 / baud_ : 0.0);
    return reply;
}

} // namespace meterlink
