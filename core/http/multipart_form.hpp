#pragma once
// A multipart/form-data body built in memory: text fields and file parts,
// then one closing boundary. The caller supplies the boundary and sends the
// body with "multipart/form-data; boundary=" + boundary.
//
// Quotation marks, CR and LF inside a name or file name would end the
// Content-Disposition parameter early and let the rest of the text pose as
// headers of the part; they are written percent-encoded (%22, %0D, %0A), as
// browsers do. Every other byte, including non-ASCII UTF-8, is written as is.

#include <string>
#include <string_view>

namespace cadrio {

class MultipartForm {
public:
    explicit MultipartForm(std::string boundary) : boundary_(std::move(boundary)) {}

    const std::string& boundary() const noexcept { return boundary_; }
    const std::string& body() const noexcept { return body_; }
    /// Moves the body out; the form is left empty.
    std::string takeBody() noexcept { return std::move(body_); }

    void addField(std::string_view name, std::string_view value);
    void addFile(std::string_view name, std::string_view filename, std::string_view contentType,
                 std::string_view data);
    /// Appends the closing boundary; call once, after the last part.
    void finalize();

    /// "zelvano-" + a random upper-case UUID, one per request.
    static std::string makeBoundary();

private:
    void appendDisposition(std::string_view name, const std::string_view* filename);

    std::string boundary_;
    std::string body_;
};

}  // namespace cadrio
