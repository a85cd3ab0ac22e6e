#pragma once

#include <QString>

namespace meterlink {

// A pseudo-terminal whose slave side a symlink names. Holds a slave descriptor of its
// own so the line does not hang up between clients. Removes its link when destroyed.
class PtyLink {
public:
    PtyLink() = default;
    ~PtyLink();
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    bool open(QString* error);
    // Points `path` at the slave device; replaces a symlink, refuses anything else.
    bool linkAt(const QString& path, QString* error);
    // Removes the link if it still points at this pseudo-terminal.
    void removeLink();

    int masterFd() const { return master_; }
    const QString& deviceName() const { return device_; }

private:
    int master_ = -1;
    int slave_ = -1;
    QString device_;
    QString link_;
};

} // namespace meterlink
