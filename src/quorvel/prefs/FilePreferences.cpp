#include "quorvel/prefs/FilePreferences.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <limits>
#include <set>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "quorvel/prefs/BackingStoreException.h"
#include "quorvel/prefs/FilePreferencesFactory.h"
#include "quorvel/util/PropertiesFormat.h"

namespace quorvel::prefs {

namespace {

using util::PropertiesFormat;
using EntryMap = std::map<QString, QString>;

// Every tree on the same file shares one lock, so their read-modify-write saves never interleave.
std::shared_ptr<std::mutex> lockForFile(const QString& path) {
    static std::mutex mapMutex;
    static std::map<QString, std::shared_ptr<std::mutex>> locks;
    std::lock_guard<std::mutex> guard(mapMutex);
    auto& lock = locks[path];
    if (!lock) {
        lock = std::make_shared<std::mutex>();
    }
    return lock;
}

std::mutex& hookMutex() {
    static std::mutex m;
    return m;
}

FilePreferencesFactory::BeforeReplaceHook& beforeReplaceHook() {
    static FilePreferencesFactory::BeforeReplaceHook hook;
    return hook;
}

std::atomic<int>& writeFailure() {
    static std::atomic<int> error{0};
    return error;
}

bool mayReplace(const QString& file) {
    FilePreferencesFactory::BeforeReplaceHook hook;
    {
        std::lock_guard<std::mutex> guard(hookMutex());
        hook = beforeReplaceHook();
    }
    return !hook || hook(file);
}

QString errorText(int error) {
    return QString::fromStdString(std::error_code(error, std::generic_category()).message());
}

BackingStoreException failure(const QString& message, int error = 0) {
    return BackingStoreException(message.toStdString(), error);
}

// Damage is reported once per file and kind of damage, not on every load of every node; an
// empty message means the file is fine again.
void reportOnce(const QString& path, const QString& message) {
    static std::mutex mutex;
    static std::map<QString, QString> reported;
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (message.isEmpty()) {
            reported.erase(path);
            return;
        }
        auto it = reported.find(path);
        if (it != reported.end() && it->second == message) {
            return;
        }
        reported[path] = message;
    }
    FilePreferencesFactory::log(message);
}

void reportDamage(const QString& path, const std::vector<QString>& problems) {
    QString summary;
    if (!problems.empty()) {
        const size_t shown = std::min<size_t>(problems.size(), 5);
        QStringList parts;
        for (size_t i = 0; i < shown; ++i) {
            parts << problems[i];
        }
        summary = parts.join(QStringLiteral("; "));
        if (shown < problems.size()) {
            summary += QStringLiteral("; and %1 more").arg(problems.size() - shown);
        }
    }
    reportOnce(path, summary.isEmpty() ? QString()
                                       : QStringLiteral("Preferences file %1 is damaged; loaded "
                                                        "what could be read: %2")
                                             .arg(path, summary));
}

struct LoadedFile {
    bool exists = false;
    bool damaged = false;
    // Over the size limit: refused unread, so `bytes` and `entries` are empty.
    bool tooLarge = false;
    QByteArray bytes;
    EntryMap entries;
};

// A file that is there but cannot be read throws: a save must never replace what it could not
// read. A file over the size limit is treated as damaged without reading it; the read is bounded
// too, in case the file grows after the size check.
LoadedFile readFile(const QString& path) {
    LoadedFile loaded;
    if (!QFileInfo::exists(path)) {
        return loaded;
    }
    loaded.exists = true;
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        throw failure(
            QStringLiteral("Unable to read preferences file %1: %2").arg(path, errorText(error)),
            error);
    }
    struct stat st {};
    int error = 0;
    if (::fstat(fd, &st) == 0) {
        loaded.tooLarge = st.st_size > FilePreferences::MAX_FILE_SIZE;
        loaded.bytes.reserve(loaded.tooLarge ? 0 : static_cast<qsizetype>(st.st_size));
    }
    char chunk[64 * 1024];
    while (!loaded.tooLarge) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = n < 0 ? errno : 0;
            break;
        }
        loaded.bytes.append(chunk, n);
        loaded.tooLarge = loaded.bytes.size() > FilePreferences::MAX_FILE_SIZE;
    }
    ::close(fd);
    if (error != 0) {
        throw failure(
            QStringLiteral("Unable to read preferences file %1: %2").arg(path, errorText(error)),
            error);
    }
    if (loaded.tooLarge) {
        loaded.bytes.clear();
        loaded.damaged = true;
        reportOnce(path, QStringLiteral("Preferences file %1 is larger than %2 bytes and was not "
                                        "read; the settings start from their defaults")
                             .arg(path)
                             .arg(FilePreferences::MAX_FILE_SIZE));
        return loaded;
    }
    auto parsed = PropertiesFormat::parse(loaded.bytes);
    for (auto& entry : parsed.entries) {
        loaded.entries[entry.key] = entry.value;  // a later duplicate wins
    }
    loaded.damaged = !parsed.problems.empty();
    reportDamage(path, parsed.problems);
    return loaded;
}

QByteArray formatFile(const EntryMap& entries) {
    const QString now = QLocale::c().toString(QDateTime::currentDateTime(),
                                              QStringLiteral("ddd MMM dd HH:mm:ss t yyyy"));
    QByteArray out = PropertiesFormat::formatComment(QStringLiteral("FilePreferences"));
    out += PropertiesFormat::formatComment(now);
    for (const auto& [key, value] : entries) {
        out += PropertiesFormat::formatLine(key, value);
        out += '\n';
    }
    return out;
}

bool writeAll(int fd, const QByteArray& bytes, bool isPreferencesFile) {
    if (const int injected = writeFailure().load(); injected != 0 && isPreferencesFile) {
        errno = injected;
        return false;
    }
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

// Used only when the folder refuses new files but the file itself is writable (a shared file
// in a locked folder): the old way, overwriting in place.
void overwriteInPlace(const QString& path, const QByteArray& content) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        throw failure(
            QStringLiteral("Unable to write preferences file %1: %2").arg(path, errorText(error)),
            error);
    }
    if (!mayReplace(path)) {
        ::close(fd);
        throw failure(QStringLiteral("Save of %1 stopped before replacing the file").arg(path));
    }
    bool ok = writeAll(fd, content, true) &&
              ::ftruncate(fd, static_cast<off_t>(content.size())) == 0 && ::fsync(fd) == 0;
    const int error = errno;
    ok = (::close(fd) == 0) && ok;
    if (!ok) {
        throw failure(
            QStringLiteral("Unable to write preferences file %1: %2").arg(path, errorText(error)),
            error);
    }
}

// Temporary files this process is writing at the moment; the clean-up below leaves them alone.
std::mutex& inFlightMutex() {
    static std::mutex m;
    return m;
}

std::set<QByteArray>& inFlight() {
    static std::set<QByteArray> names;
    return names;
}

bool isInFlight(const QByteArray& temp) {
    std::lock_guard<std::mutex> guard(inFlightMutex());
    return inFlight().count(temp) > 0;
}

void setInFlight(const QByteArray& temp, bool writing) {
    std::lock_guard<std::mutex> guard(inFlightMutex());
    if (writing) {
        inFlight().insert(temp);
    } else {
        inFlight().erase(temp);
    }
}

// The pid of a temporary file name's "<pid>-<n>" tail, or 0 when the tail is anything else.
pid_t temporaryOwner(QByteArrayView tail) {
    const qsizetype dash = tail.indexOf('-');
    const auto digits = [](QByteArrayView part) {
        return !part.isEmpty() &&
               std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (dash < 1 || dash > 9 || !digits(tail.first(dash)) || !digits(tail.sliced(dash + 1))) {
        return 0;
    }
    return static_cast<pid_t>(tail.first(dash).toLongLong());
}

// A save killed halfway leaves its "<name>.tmp<pid>-<n>" behind. Those of `target` are removed
// once the process that wrote them is gone (or is this one, between saves); a second copy of
// the program saving at this moment keeps its own. Best effort: nothing here fails a save.
void removeStaleTemporaries(const QByteArray& target) {
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash <= 0 ? QByteArray("/") : target.left(slash);
    const QByteArray prefix = target.mid(slash + 1) + ".tmp";
    DIR* dir = ::opendir(folder.constData());
    if (dir == nullptr) {
        return;
    }
    const pid_t self = ::getpid();
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArrayView name(entry->d_name);
        if (!name.startsWith(prefix)) {
            continue;
        }
        const pid_t owner = temporaryOwner(name.sliced(prefix.size()));
        if (owner <= 0 || (owner != self && !(::kill(owner, 0) != 0 && errno == ESRCH))) {
            continue;
        }
        const QByteArray path = folder + '/' + name.toByteArray();
        struct stat st {};
        if (isInFlight(path) || ::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
            continue;
        }
        removed += ::unlink(path.constData()) == 0 ? 1 : 0;
    }
    ::closedir(dir);
    if (removed > 0) {
        FilePreferencesFactory::log(
            QStringLiteral("Removed %1 temporary file(s) left by interrupted saves of %2")
                .arg(removed)
                .arg(QFile::decodeName(target)));
    }
}

// Writes a temporary file in the same folder, puts it on disk and renames it over the old file,
// so a crash or a full disk never leaves a truncated settings file behind. The test hook only
// stops saves of the preferences file itself, not of side copies.
void replaceFile(const QString& path, const QByteArray& content, bool isPreferencesFile = true) {
    static std::atomic<unsigned> counter{0};
    struct stat old {};
    const QByteArray target = QFile::encodeName(path);
    const bool hadFile = ::stat(target.constData(), &old) == 0;
    removeStaleTemporaries(target);

    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = target + ".tmp" + QByteArray::number(static_cast<qint64>(::getpid())) + "-" +
               QByteArray::number(counter++);
        // 0666 lets the umask decide, as for any new file.
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd >= 0) {
        setInFlight(temp, true);
    }
    if (fd < 0) {
        const int error = errno;
        if (hadFile && (error == EACCES || error == EPERM || error == EROFS) &&
            ::access(target.constData(), W_OK) == 0) {
            overwriteInPlace(path, content);
            return;
        }
        throw failure(QStringLiteral("Unable to create a temporary file next to %1: %2")
                          .arg(path, errorText(error)),
                      error);
    }

    auto giveUp = [&](const QString& what, int error) {
        if (fd >= 0) {
            ::close(fd);
        }
        ::unlink(temp.constData());
        setInFlight(temp, false);
        QString message = what.arg(path);
        if (error != 0) {
            message += QStringLiteral(": ") + errorText(error);
        }
        throw failure(message, error);
    };

    if (!writeAll(fd, content, isPreferencesFile)) {
        giveUp(QStringLiteral("Unable to write preferences file %1"), errno);
    }
    if (hadFile) {
        if (::fchmod(fd, old.st_mode & 07777) != 0) {
            giveUp(QStringLiteral("Unable to keep the permissions of %1"), errno);
        }
        // Keeping the group matters for a file shared by several users; the owner can only be
        // kept by a privileged process. Both are best effort.
        const uid_t owner = ::geteuid() == 0 ? old.st_uid : static_cast<uid_t>(-1);
        if (::fchown(fd, owner, old.st_gid) != 0) {
            errno = 0;
        }
    }
    if (::fsync(fd) != 0) {
        giveUp(QStringLiteral("Unable to write preferences file %1"), errno);
    }
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) {
        giveUp(QStringLiteral("Unable to write preferences file %1"), errno);
    }
    if (isPreferencesFile && !mayReplace(path)) {
        giveUp(QStringLiteral("Save of %1 stopped before replacing the file"), 0);
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        giveUp(QStringLiteral("Unable to replace preferences file %1"), errno);
    }
    setInFlight(temp, false);
    // Make the rename itself durable; failing here no longer risks the data.
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

// Nothing the user had is lost: the first save over a damaged file keeps it next to the new one.
void keepDamagedCopy(const QString& path, const LoadedFile& old) {
    const QString copy = path + QStringLiteral(".damaged");
    if (QFileInfo::exists(copy)) {
        return;
    }
    if (old.tooLarge) {
        // Never read into memory: the file itself becomes the copy. Linked, so the file stays
        // in place until the save replaces it; moved where links are not supported.
        const QByteArray from = QFile::encodeName(path);
        const QByteArray to = QFile::encodeName(copy);
        int error = ::link(from.constData(), to.constData()) == 0 ? 0 : errno;
        if ((error == EPERM || error == EOPNOTSUPP || error == EMLINK) &&
            ::rename(from.constData(), to.constData()) == 0) {
            error = 0;
        }
        if (error != 0) {
            throw failure(QStringLiteral("Unable to keep the oversized preferences file %1 as %2: "
                                         "%3")
                              .arg(path, copy, errorText(error)),
                          error);
        }
    } else {
        replaceFile(copy, old.bytes, false);
    }
    FilePreferencesFactory::log(
        QStringLiteral("Kept a copy of the damaged preferences file as %1").arg(copy));
}

void saveFile(const QString& path, const EntryMap& entries, const LoadedFile& old) {
    QString target = path;
    const QFileInfo info(path);
    if (info.isSymLink() && !info.canonicalFilePath().isEmpty()) {
        target = info.canonicalFilePath();  // write through the link, keep the link
    }
    const QString folder = QFileInfo(target).absolutePath();
    if (!QDir(folder).exists()) {
        errno = 0;
        if (!QDir().mkpath(folder)) {
            const int error = errno;
            QString message = QStringLiteral("Unable to create the folder %1").arg(folder);
            if (error != 0) {
                message += QStringLiteral(": ") + errorText(error);
            }
            throw failure(message, error);
        }
    }
    if (old.damaged) {
        keepDamagedCopy(target, old);
    }
    replaceFile(target, formatFile(entries));
}

// A remainder without '.' belongs to the node itself; with one, to a node below it.
bool ownsKey(const QString& prefix, const QString& fullKey) {
    return fullKey.startsWith(prefix) && !QStringView(fullKey).mid(prefix.size()).contains(u'.');
}

void checkNodeName(const QString& name) {
    if (name.isEmpty()) {
        throw std::invalid_argument("Empty node name");
    }
    if (name.contains(u'/')) {
        throw std::invalid_argument("Node name contains '/': " + name.toStdString());
    }
}

void checkKey(const QString& key) {
    if (key.contains(u'/')) {
        throw std::invalid_argument("Key contains '/': " + key.toStdString());
    }
}

}  // namespace

struct FilePreferences::Tree {
    QString file;
    std::shared_ptr<std::mutex> fileLock;
    std::recursive_mutex lock;
    // Open batches, and the nodes changed in them with the message for a failed save.
    int batchDepth = 0;
    bool fileRefused = false;
    std::map<FilePreferences*, QString> pending;
    // Removed nodes stay alive for callers still holding them; the root frees them.
    std::vector<std::unique_ptr<FilePreferences>> removedNodes;

    static void collect(FilePreferences* node, std::vector<FilePreferences*>& out) {
        out.push_back(node);
        for (auto& [name, child] : node->children_) {
            collect(child.get(), out);
        }
    }

    static void load(const std::vector<FilePreferences*>& nodes) {
        if (nodes.empty()) {
            return;
        }
        Tree& tree = *nodes.front()->tree_;
        LoadedFile loaded;
        {
            std::lock_guard<std::mutex> guard(*tree.fileLock);
            loaded = readFile(tree.file);
        }
        tree.fileRefused = loaded.tooLarge;
        if (!loaded.exists) {
            return;
        }
        for (FilePreferences* node : nodes) {
            if (node->removed_) {
                continue;
            }
            const QString prefix = node->keyPrefix();
            for (const auto& [key, value] : loaded.entries) {
                if (ownsKey(prefix, key)) {
                    node->root_[key.mid(prefix.size())] = value;
                }
            }
        }
    }

    static void save(const std::vector<FilePreferences*>& nodes) {
        if (nodes.empty()) {
            return;
        }
        Tree& tree = *nodes.front()->tree_;
        std::lock_guard<std::mutex> guard(*tree.fileLock);
        const LoadedFile loaded = readFile(tree.file);
        EntryMap entries = loaded.entries;
        for (FilePreferences* node : nodes) {
            const QString prefix = node->keyPrefix();
            std::erase_if(entries, [&](const auto& entry) { return ownsKey(prefix, entry.first); });
        }
        for (FilePreferences* node : nodes) {
            if (node->removed_) {
                continue;
            }
            const QString prefix = node->keyPrefix();
            for (const auto& [key, value] : node->root_) {
                entries[prefix + key] = value;
            }
        }
        saveFile(tree.file, entries, loaded);
        tree.fileRefused = false;
    }
};

void FilePreferencesFactory::setBeforeReplaceHookForTesting(BeforeReplaceHook hook) {
    std::lock_guard<std::mutex> guard(hookMutex());
    beforeReplaceHook() = std::move(hook);
}

void FilePreferencesFactory::setWriteFailureForTesting(int error) {
    writeFailure() = error;
}

namespace {

void checkLive(const FilePreferences& node) {
    if (node.isRemoved()) {
        throw std::logic_error("Node has been removed: " + node.absolutePath().toStdString());
    }
}

}  // namespace

std::unique_ptr<FilePreferences> FilePreferences::createRoot(const QString& file) {
    auto tree = std::make_shared<Tree>();
    tree->file = QDir::cleanPath(QFileInfo(file).absoluteFilePath());
    tree->fileLock = lockForFile(tree->file);
    return std::unique_ptr<FilePreferences>(new FilePreferences(std::move(tree), nullptr, {}));
}

FilePreferences::FilePreferences(std::shared_ptr<Tree> tree, FilePreferences* parent,
                                 const QString& name)
    : tree_(std::move(tree)), parent_(parent), name_(name) {
    FilePreferencesFactory::log(QStringLiteral("Instantiating node ") + name);
    try {
        std::lock_guard<std::recursive_mutex> guard(tree_->lock);
        Tree::load({this});
    } catch (const BackingStoreException& e) {
        FilePreferencesFactory::log(QStringLiteral("Unable to sync on creation of node ") + name);
        FilePreferencesFactory::log(QString::fromStdString(e.what()));
    }
}

FilePreferences::~FilePreferences() {
    if (parent_ == nullptr) {
        tree_->removedNodes.clear();
    }
}

QString FilePreferences::name() const {
    return name_;
}

QString FilePreferences::absolutePath() const {
    if (parent_ == nullptr) {
        return QStringLiteral("/");
    }
    const QString above = parent_->absolutePath();
    return (above == u'/' ? above : above + u'/') + name_;
}

FilePreferences* FilePreferences::parent() const {
    return parent_;
}

QString FilePreferences::file() const {
    return tree_->file;
}

QString FilePreferences::keyPrefix() const {
    return parent_ == nullptr ? QString() : parent_->keyPrefix() + name_ + u'.';
}

QString FilePreferences::get(const QString& key, const QString& def) const {
    std::lock_guard<std::recursive_mutex> guard(tree_->lock);
    checkLive(*this);
    return getSpi(key).value_or(def);
}

int FilePreferences::getInt(const QString& key, int def) const {
    const auto text = [&] {
        std::lock_guard<std::recursive_mutex> guard(tree_->lock);
        checkLive(*this);
        return getSpi(key);
    }();
    if (!text || text->isEmpty()) {
        return def;
    }
    qsizetype i = 0;
    const bool negative = (*text)[0] == u'-';
    if (negative || (*text)[0] == u'+') {
        ++i;
    }
    if (i == text->size()) {
        return def;
    }
    qint64 value = 0;
    for (; i < text->size(); ++i) {
        const QChar c = (*text)[i];
        if (c < u'0' || c > u'9') {
            return def;
        }
        value = value * 10 + (c.unicode() - '0');
        if (value > qint64(std::numeric_limits<int>::max()) + 1) {
            return def;
        }
    }
    value = negative ? -value : value;
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) {
        return def;
    }
    return static_cast<int>(value);
}

bool FilePreferences::getBoolean(const QString& key, bool def) const {
    const QString text = get(key, QString());
    if (text.compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0) {
        return true;
    }
    if (text.compare(QStringLiteral("false"), Qt::CaseInsensitive) == 0) {
        return false;
    }
    return def;
}

void FilePreferences::put(const QString& key, const QString& value) {
    checkKey(key);
    std::lock_guard<std::recursive_mutex> guard(tree_->lock);
    checkLive(*this);
    putSpi(key, value);
}

void FilePreferences::putInt(const QString& key, int value) {
    put(key, QString::number(value));
}

void FilePreferences::putBoolean(const QString& key, bool value) {
    put(key, value ? QStringLiteral("true") : QStringLiteral("false"));
}

void FilePreferences::remove(const QString& key) {
    checkKey(key);
    std::lock_guard<std::recursive_mutex> guard(tree_->lock);
    checkLive(*this);
    removeSpi(key);
}

QStringList FilePreferences::keys() const {
    std::lock_guard<std::recursive_mutex> guard(tree_->lock);
    checkLive(*this);
    return keysSpi();
}

QStringList FilePreferences::childrenNames() const {
    std::lock_guard<std::recursive_mutex> guard(tree_->lock);
    checkLive(*this);
    return childrenNamesSpi();
}

FilePreferences* FilePreferences::node(const QString& path) {
    std::lock_guard<std::recursive_mutex> guard(tree_->lock);
    checkLive(*this);
    FilePreferences* current = this;
    QStringView rest(path);
    if (rest.startsWith(u'/')) {
        while (current->parent_ != nullptr) {
            current = current->parent_;
        }
        rest = rest.mid(1);
    }
    if (rest.isEmpty()) {
        return current;
    }
    if (rest.endsWith(u'/') || rest.contains(u"//")) {
        throw std::invalid_argument("Malformed node path: " + path.toStdString());
    }
    for (const auto part : rest.split(u'/')) {
        current = current->childSpi(part.toString());
    }
    return current;
}

void FilePreferences::removeNode() {
    std::lock_guard<std::recursive_mutex> guard(tree_->lock);
    if (parent_ == nullptr) {
        throw std::logic_error("The root node cannot be removed");
    }
    checkLive(*this);
    std::vector<FilePreferences*> nodes;
    Tree::collect(this, nodes);
    for (FilePreferences* node : nodes) {
        node->removed_ = true;
    }
    auto it = parent_->children_.find(name_);
    if (it != parent_->children_.end()) {
        tree_->removedNodes.push_back(std::move(it->second));
        parent_->children_.erase(it);
    }
    // One save drops the entries of the whole subtree.
    Tree::save(nodes);
}

bool FilePreferences::isRemoved() const {
    std::lock_guard<std::recursive_mutex> guard(tree_->lock);
    return removed_;
}

bool FilePreferences::fileRefused() const {
    std::lock_guard<std::recursive_mutex> guard(tree_->lock);
    return tree_->fileRefused;
}

void FilePreferences::sync() {
    std::lock_guard<std::recursive_mutex> guard(tree_->lock);
    std::vector<FilePreferences*> nodes;
    Tree::collect(this, nodes);
    Tree::load(nodes);
}

void FilePreferences::flush() {
    std::lock_guard<std::recursive_mutex> guard(tree_->lock);
    std::vector<FilePreferences*> nodes;
    Tree::collect(this, nodes);
    Tree::save(nodes);
    for (FilePreferences* node : nodes) tree_->pending.erase(node);
}

FilePreferences::Batch::Batch(FilePreferences& node) : tree_(node.tree_) {
    std::lock_guard<std::recursive_mutex> guard(tree_->lock);
    ++tree_->batchDepth;
}

FilePreferences::Batch::~Batch() {
    std::lock_guard<std::recursive_mutex> guard(tree_->lock);
    if (--tree_->batchDepth > 0) return;
    auto pending = std::move(tree_->pending);
    tree_->pending.clear();
    for (const auto& [node, failureMessage] : pending) {
        try {
            Tree::save({node});
        } catch (const std::exception& e) {
            FilePreferencesFactory::log(failureMessage);
            FilePreferencesFactory::log(QString::fromStdString(e.what()));
        }
    }
}

std::optional<QString> FilePreferences::getSpi(const QString& key) const {
    std::lock_guard<std::recursive_mutex> guard(tree_->lock);
    auto it = root_.find(key);
    if (it == root_.end()) {
        return std::nullopt;
    }
    return it->second;
}

void FilePreferences::putSpi(const QString& key, const QString& value) {
    std::lock_guard<std::recursive_mutex> guard(tree_->lock);
    root_[key] = value;
    if (tree_->batchDepth > 0) {
        tree_->pending[this] = QStringLiteral("Unable to flush after putting ") + key;
        return;
    }
    try {
        flushSpi();
    } catch (const BackingStoreException& e) {
        FilePreferencesFactory::log(QStringLiteral("Unable to flush after putting ") + key);
        FilePreferencesFactory::log(QString::fromStdString(e.what()));
    }
}

void FilePreferences::removeSpi(const QString& key) {
    std::lock_guard<std::recursive_mutex> guard(tree_->lock);
    root_.erase(key);
    if (tree_->batchDepth > 0) {
        tree_->pending[this] = QStringLiteral("Unable to flush after removing ") + key;
        return;
    }
    try {
        flushSpi();
    } catch (const BackingStoreException& e) {
        FilePreferencesFactory::log(QStringLiteral("Unable to flush after removing ") + key);
        FilePreferencesFactory::log(QString::fromStdString(e.what()));
    }
}

QStringList FilePreferences::keysSpi() const {
    std::lock_guard<std::recursive_mutex> guard(tree_->lock);
    QStringList out;
    for (const auto& [key, value] : root_) {
        out << key;
    }
    return out;
}

QStringList FilePreferences::childrenNamesSpi() const {
    std::lock_guard<std::recursive_mutex> guard(tree_->lock);
    QStringList out;
    for (const auto& [name, child] : children_) {
        out << name;
    }
    return out;
}

FilePreferences* FilePreferences::childSpi(const QString& name) {
    checkNodeName(name);
    std::lock_guard<std::recursive_mutex> guard(tree_->lock);
    auto it = children_.find(name);
    if (it == children_.end()) {
        std::unique_ptr<FilePreferences> child(new FilePreferences(tree_, this, name));
        it = children_.emplace(name, std::move(child)).first;
    }
    return it->second.get();
}

void FilePreferences::removeNodeSpi() {
    flushSpi();
}

void FilePreferences::syncSpi() {
    std::lock_guard<std::recursive_mutex> guard(tree_->lock);
    Tree::load({this});
}

void FilePreferences::flushSpi() {
    std::lock_guard<std::recursive_mutex> guard(tree_->lock);
    Tree::save({this});
    tree_->pending.erase(this);
}

}  // namespace quorvel::prefs
