#pragma once
// Creation of a folder or file on the drive from the host's template.
//
// Answered at once, before any task: an excluded name (-2010), a parent
// that is no folder or root (-1005), a symbolic link (feature unsupported,
// Cocoa 3328). Otherwise one task on `tasks` creates the item (or, with
// the may-already-exist option, finds it among the parent's children in the
// store: a folder by name, a file by name and content hash, with nothing
// sent), records it in the store, saves, and answers. With that option, a
// file whose name the parent's one file of that name holds with other bytes
// goes up as a conflict copy beside it (see conflict_copy.hpp), and the
// answer is that file, with its contents to fetch. A file without contents
// is uploaded empty from a scratch file, removed afterwards.
//
// The returned progress counts the bytes uploaded; cancelling it answers
// "user cancelled" once, and the task's later answer is dropped. Steps the
// server has carried out stay done.

#include <filesystem>
#include <memory>
#include <optional>

#include "fileprovider/item_change_parts.hpp"
#include "fileprovider/task_group.hpp"
#include "platform/fileprovider/item.hpp"
#include "platform/fileprovider/item_flags.hpp"

namespace cadrio {

std::shared_ptr<fileprovider::Progress> createItem(const ItemChangeParts& parts, TaskGroup& tasks,
                                                   const fileprovider::Item& itemTemplate,
                                                   const std::optional<std::filesystem::path>& contents,
                                                   fileprovider::CreateItemOptions options,
                                                   ItemChangeCompletion completion);

}  // namespace cadrio
