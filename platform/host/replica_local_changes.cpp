// The queue of local changes: how the user's changes become records, and
// how the uploader's answers end them.
#include "platform/host/replica_sqlite.hpp"

namespace cadrio::host::replica_detail {

namespace {
[[noreturn]] void notYet() {
    throw ReplicaError("replica: local changes are not kept yet");
}
}  // namespace

ReplicaEntry SqliteReplica::createLocal(Inode, std::string_view, bool, fileprovider::Date, bool) {
    notYet();
}
void SqliteReplica::recordContentChange(Inode, std::int64_t, fileprovider::Date) {
    notYet();
}
std::optional<Inode> SqliteReplica::renameLocal(Inode, Inode, std::string_view, bool) {
    notYet();
}
void SqliteReplica::removeLocal(Inode) {
    notYet();
}
std::vector<PendingChange> SqliteReplica::pendingChanges() const {
    return {};
}
std::optional<PendingChange> SqliteReplica::pendingChange(Inode) const {
    return std::nullopt;
}
std::size_t SqliteReplica::pendingCount() const {
    return 0;
}
std::optional<OutgoingChange> SqliteReplica::beginSending(Inode) {
    return std::nullopt;
}
std::vector<KernelNotice> SqliteReplica::finishSending(Inode, ItemPtr) {
    notYet();
}
void SqliteReplica::failSending(Inode, std::optional<std::string>) {
    notYet();
}
std::vector<KernelNotice> SqliteReplica::forgetRemoteItem(Inode) {
    notYet();
}
void SqliteReplica::keepLocalOnly(Inode) {
    notYet();
}
void SqliteReplica::resumeSending() {}

}  // namespace cadrio::host::replica_detail
