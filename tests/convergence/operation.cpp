#include "tests/convergence/operation.hpp"

#include <array>
#include <sstream>
#include <utility>

namespace cadrio::convergence {
namespace {

constexpr std::array<std::pair<OpKind, const char*>, 26> kNames{{
    {OpKind::localCreate, "create"},
    {OpKind::localAppend, "append"},
    {OpKind::localOverwrite, "overwrite"},
    {OpKind::localTruncate, "truncate"},
    {OpKind::localSafeSave, "safe-save"},
    {OpKind::localBackupSave, "backup-save"},
    {OpKind::localRename, "rename"},
    {OpKind::localMove, "move"},
    {OpKind::localMkdir, "mkdir-p"},
    {OpKind::localDelete, "rm"},
    {OpKind::localRemoveTree, "rm-r"},
    {OpKind::localScratch, "scratch"},
    {OpKind::remoteCreate, "remote-create"},
    {OpKind::remoteMkdir, "remote-mkdir"},
    {OpKind::remoteReplace, "remote-replace"},
    {OpKind::remoteReplaceOpen, "remote-replace-open"},
    {OpKind::remoteRename, "remote-rename"},
    {OpKind::remoteMove, "remote-move"},
    {OpKind::remoteTrash, "remote-trash"},
    {OpKind::remoteArchive, "remote-archive"},
    {OpKind::remoteLock, "remote-lock"},
    {OpKind::remoteUnlock, "remote-unlock"},
    {OpKind::faultRule, "fault"},
    {OpKind::offline, "offline"},
    {OpKind::killHost, "kill-host"},
    {OpKind::pause, "pause"},
}};

}  // namespace

bool isLocal(OpKind kind) { return kind <= OpKind::localScratch; }
bool isRemote(OpKind kind) { return kind >= OpKind::remoteCreate && kind <= OpKind::remoteUnlock; }

std::string formatOp(const Op& op) {
    const char* name = "?";
    for (const auto& [kind, text] : kNames) {
        if (kind == op.kind) name = text;
    }
    std::ostringstream line;
    line << name << '\t' << op.path << '\t' << op.target << '\t' << op.size << '\t' << op.seed << '\t' << op.arg;
    return line.str();
}

std::optional<Op> parseOp(const std::string& line) {
    std::vector<std::string> fields(1);
    for (const char c : line) {
        if (c == '\t') fields.emplace_back();
        else fields.back() += c;
    }
    if (fields.size() != 6) return std::nullopt;
    Op op;
    bool known = false;
    for (const auto& [kind, text] : kNames) {
        if (fields[0] == text) {
            op.kind = kind;
            known = true;
        }
    }
    if (!known) return std::nullopt;
    op.path = fields[1];
    op.target = fields[2];
    try {
        op.size = std::stoll(fields[3]);
        op.seed = std::stoull(fields[4]);
        op.arg = std::stoll(fields[5]);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return op;
}

}  // namespace cadrio::convergence
