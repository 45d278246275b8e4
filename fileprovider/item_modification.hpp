#pragma once
// Carrying a local change of an item to the drive: a folder's rename or
// move in one request; for a file, in this order, the move, the rename and
// the new content, each step starting from the record the previous one
// left. Only the contents, filename and parent bits of the changed fields
// are acted on; other changes (dates, tags, ...) send nothing and answer
// the item as the store holds it.
//
// New content is sent on the condition of the base version the host last
// had. When the server's content moved on meanwhile, the local bytes are
// kept as a new file beside it (named by SyncNaming::conflictCopyName in
// the user's time zone), the conflict is recorded in the summary, the
// edited file's record is brought to the server's version, and the answer
// asks the host to fetch the content again. What the server has carried
// out stays done when a later step fails; a rename to an excluded name
// fails with -2010 after the move of the same request was sent.
//
// An identifier that is no item answers -1005 and the root its own item,
// both at once. Otherwise one task on `tasks`, answered once through the
// cancellation guard (as item_creation.hpp).

#include <filesystem>
#include <memory>
#include <optional>

#include "fileprovider/item_change_parts.hpp"
#include "fileprovider/task_group.hpp"
#include "platform/fileprovider/item.hpp"
#include "platform/fileprovider/item_flags.hpp"

namespace cadrio {

std::shared_ptr<fileprovider::Progress> modifyItem(const ItemChangeParts& parts, TaskGroup& tasks,
                                                   const fileprovider::Item& item,
                                                   const fileprovider::ItemVersion& baseVersion,
                                                   fileprovider::ItemFields changedFields,
                                                   const std::optional<std::filesystem::path>& contents,
                                                   ItemChangeCompletion completion);

}  // namespace cadrio
