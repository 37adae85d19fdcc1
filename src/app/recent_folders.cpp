#include "recent_folders.h"

#include <QDir>
#include <QFileInfo>

namespace lumeno::app {

namespace {

constexpr const char* kGroup = "Recent Folder List";

QString EntryKey(int index) {
    return QStringLiteral("Folder%1").arg(index + 1);
}

// One spelling per folder: absolute, without "." or "..", and through any
// symbolic links while the folder exists.
QString Normalized(const QString& folder) {
    QFileInfo info(folder);
    QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

}  // namespace

void RecentFolders::Add(const QString& folder) {
    if (folder.isEmpty()) {
        return;
    }
    QString entry = Normalized(folder);
    entries_.removeAll(entry);
    entries_.prepend(entry);
    while (entries_.size() > kCapacity) {
        entries_.removeLast();
    }
}

void RecentFolders::Remove(const QString& folder) {
    entries_.removeAll(folder);
    entries_.removeAll(Normalized(folder));
}

void RecentFolders::Load(QSettings& settings) {
    entries_.clear();
    settings.beginGroup(QString::fromLatin1(kGroup));
    for (int i = 0; i < kCapacity; ++i) {
        QString folder = settings.value(EntryKey(i)).toString();
        if (!folder.isEmpty() && !entries_.contains(folder)) {
            entries_.append(folder);
        }
    }
    settings.endGroup();
}

void RecentFolders::Save(QSettings& settings) const {
    settings.beginGroup(QString::fromLatin1(kGroup));
    settings.remove(QString());  // entries beyond the list's end go too
    for (int i = 0; i < entries_.size(); ++i) {
        settings.setValue(EntryKey(i), entries_[i]);
    }
    settings.endGroup();
}

}  // namespace lumeno::app
