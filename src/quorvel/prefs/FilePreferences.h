#pragma once

#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace quorvel::prefs {

// One node of a preferences tree that keeps the whole tree in one properties file.
// A node's entries are stored as "<path>key=value", the path being every node name below the
// root followed by '.', so the key "port" of /com/varnholt/tolvane is "com.varnholt.tolvane.port".
//
// Thread-safe: every node operation holds the tree's lock; file loads and saves of all nodes of
// all trees on one file also hold that file's lock.
class FilePreferences {
    struct Tree;

public:
    // A larger file is not read: its nodes start empty and the first save sets it aside as
    // "<file>.damaged". The same limit as for a settings import.
    static constexpr qint64 MAX_FILE_SIZE = 1024 * 1024;

    // A root node (no parent, empty name) backed by `file`. Normally obtained from
    // FilePreferencesFactory::userRoot().
    static std::unique_ptr<FilePreferences> createRoot(const QString& file);
    ~FilePreferences();
    FilePreferences(const FilePreferences&) = delete;
    FilePreferences& operator=(const FilePreferences&) = delete;

    QString name() const;
    // "/" for the root, "/com/varnholt/tolvane" below it.
    QString absolutePath() const;
    FilePreferences* parent() const;
    QString file() const;

    // --- the general preferences operations ---
    QString get(const QString& key, const QString& def) const;
    // Absent or not a decimal 32-bit integer: def.
    int getInt(const QString& key, int def) const;
    // Absent or not "true"/"false" (any case): def.
    bool getBoolean(const QString& key, bool def) const;
    void put(const QString& key, const QString& value);
    void putInt(const QString& key, int value);
    void putBoolean(const QString& key, bool value);  // "true" / "false"
    void remove(const QString& key);
    QStringList keys() const;
    QStringList childrenNames() const;
    // A relative path ("com/varnholt") from this node, or an absolute one ("/com/varnholt")
    // from the root; missing nodes are created. Throws std::invalid_argument on a malformed
    // path (double or trailing slash).
    FilePreferences* node(const QString& path);
    // Marks this node and its descendants removed and drops their entries from the file.
    // The root cannot be removed (std::logic_error).
    void removeNode();
    bool isRemoved() const;
    // True when the last load of this tree refused the file as larger than MAX_FILE_SIZE and
    // no save has replaced it since: nothing stored was read.
    bool fileRefused() const;
    // Reloads this node and its descendants from the file; throws BackingStoreException.
    void sync();
    // Saves this node and its descendants to the file; throws BackingStoreException.
    void flush();

    // Within a batch, put and remove on any node of this tree change memory only; when the
    // outermost batch ends, every node changed in it is saved once (logging a failure as put
    // and remove do). A flush inside the batch saves at once. Saving thirty settings then
    // rewrites the file once instead of thirty times.
    class Batch {
    public:
        explicit Batch(FilePreferences& node);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        std::shared_ptr<Tree> tree_;
    };

    // --- the storage steps behind them ---
    std::optional<QString> getSpi(const QString& key) const;
    void putSpi(const QString& key, const QString& value);
    void removeSpi(const QString& key);
    QStringList keysSpi() const;
    QStringList childrenNamesSpi() const;
    FilePreferences* childSpi(const QString& name);
    void removeNodeSpi();
    void syncSpi();
    void flushSpi();

private:
    FilePreferences(std::shared_ptr<Tree> tree, FilePreferences* parent, const QString& name);
    QString keyPrefix() const;  // "com.varnholt.tolvane." ("" for the root)

    std::shared_ptr<Tree> tree_;
    FilePreferences* parent_;
    QString name_;
    bool removed_ = false;
    std::map<QString, QString> root_;
    std::map<QString, std::unique_ptr<FilePreferences>> children_;
};

}  // namespace quorvel::prefs
