#pragma once
// Images for the thumbnail tests, made on the spot rather than kept as files.

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <stdexcept>
#include <string>

namespace cadrio::host::testing {

/// A `width` x `height` image filled with one colour, encoded as `format`
/// ("jpeg" or "png").
inline std::string encodedImage(const char* format, int width, int height) {
    GdkPixbuf* image = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
    gdk_pixbuf_fill(image, 0x3080c0ff);
    gchar* buffer = nullptr;
    gsize length = 0;
    const bool saved = gdk_pixbuf_save_to_buffer(image, &buffer, &length, format, nullptr, nullptr);
    g_object_unref(image);
    if (!saved) throw std::runtime_error(std::string("cannot encode ") + format);
    std::string bytes(buffer, length);
    g_free(buffer);
    return bytes;
}

}  // namespace cadrio::host::testing
