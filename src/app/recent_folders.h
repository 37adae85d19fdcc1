// RecentFolders: the File menu's list of the working folders opened last,
// newest first, at most four, kept across runs in the application's
// settings. Folders are kept as absolute paths, each once.
#pragma once

#include <QSettings>
#include <QStringList>

namespace lumeno::app {

// The settings the shell keeps between runs (only the recent-folder list):
// organisation and application name.
inline constexpr const char* kSettingsOrganization = "Local AppWizard-Generated Applications";
inline constexpr const char* kSettingsApplication = "lumeno_wnd";

class RecentFolders {
  public:
    static constexpr int kCapacity = 4;

    const QStringList& Entries() const { return entries_; }

    // Puts folder first; the same folder further down moves up, and the
    // oldest entry past the capacity drops out.
    void Add(const QString& folder);
    void Remove(const QString& folder);

    // Replaces the list with the one stored in settings (empty or repeated
    // entries are skipped); Save stores the list, and only the list.
    void Load(QSettings& settings);
    void Save(QSettings& settings) const;

  private:
    QStringList entries_;
};

}  // namespace lumeno::app
