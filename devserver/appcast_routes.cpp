#include "devserver/appcast_feed.hpp"
#include "devserver/drive_http.hpp"
#include "devserver/server_context.hpp"

namespace cadrio::devserver {
namespace {

std::string escapedHTML(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace

void registerAppcastRoutes(httplib::Server& server, ServerContext& context) {
    server.Get("/appcast.xml", [&context](const httplib::Request&, httplib::Response& res) {
        res.set_content(context.appcast.render(context.baseURL), "application/rss+xml; charset=utf-8");
    });
    // Only the version the feed lists has a page and a package.
    server.Get(R"(/releases/([^/]+))", [&context](const httplib::Request& req, httplib::Response& res) {
        answer(res, [&] {
            const std::string shown = context.appcast.shortVersion();
            if (req.matches[1] != shown) throw notFound("Version inconnue.");
            res.set_content("<!doctype html><meta charset=\"utf-8\"><title>Zelvano Cadrio " + escapedHTML(shown) +
                                "</title><h1>Zelvano Cadrio " + escapedHTML(shown) + "</h1>",
                            "text/html; charset=utf-8");
        });
    });
    server.Get(R"(/releases/([^/]+)/zelvano-cadrio-([^/]+)\.tar\.gz)",
               [&context](const httplib::Request& req, httplib::Response& res) {
                   answer(res, [&] {
                       const std::string shown = context.appcast.shortVersion();
                       if (req.matches[1] != shown || req.matches[2] != shown) throw notFound("Version inconnue.");
                       res.set_content(AppcastFeed::packageOf(shown), "application/octet-stream");
                   });
               });
}

}  // namespace cadrio::devserver
