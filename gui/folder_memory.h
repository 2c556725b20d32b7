#pragma once
// What the windows remember across sessions in the user profile: the folder the operator last
// chose a file of each kind in (section "Folders"), so that the next file dialog of that kind opens
// there, and the windows' geometry and splitter states.
#include <QByteArray>
#include <QString>

namespace ortavia::ui {

inline constexpr const char* kFoldersSection = "Folders";

// The folder remembered for a kind of file (any text naming it, e.g. a dialog's caption); empty
// when none was remembered or it no longer exists.
QString RememberedFolder(const QString& kind);
// Remembers the folder of `chosen`: a folder itself, or the folder holding a file. Nothing for an
// empty path.
void RememberFolder(const QString& kind, const QString& chosen);

// A window's geometry or a splitter's state (Qt's saveGeometry / saveState bytes), kept in the
// profile section "Layout" under `key`; empty when none was stored.
inline constexpr const char* kLayoutSection = "Layout";
QByteArray StoredLayout(const QString& key);
void StoreLayout(const QString& key, const QByteArray& state);

}  // namespace ortavia::ui
