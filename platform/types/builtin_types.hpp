#pragma once
// The types the registry falls back on when the shared MIME database is
// missing: the formats users store most, so that uploads still carry a
// meaningful MIME type.

#include <vector>

#include "platform/types/content_type_registry.hpp"
#include "platform/types/mime_globs.hpp"

namespace cadrio::types {

std::vector<GlobRule> builtinGlobs();
ContentTypeRegistry::Parents builtinParents();

}  // namespace cadrio::types
