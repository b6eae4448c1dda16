// Where a channel lives on the streaming server, and how request URLs are matched to it.
//
// A channel is mounted at "/CH01" (its name) and at any paths of its own, such as
// "/Streaming/Channels/101" or "/cam/realmonitor?channel=1&subtype=0". URLs are compared as
// cameras compare them: scheme, host and port are ignored, path and query must be exact.
//
// The tracks of a named mount are "track1" and "track2", those of a path mount "trackID=0" and
// "trackID=1". Where the track's control goes relative to a query depends on the camera:
//   usual (Hikvision)    Content-Base /path/         control trackID=0?query
//   query in the base    Content-Base /path?query/   control trackID=0          (Dahua)
// so a SETUP is accepted only at the one URL the description leads to.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace camsim {

enum class TrackKind { Video, Audio };

struct Mount {
    int channel = 0;           // from 1
    std::string path;          // starts with '/', no '/' at its end
    std::string query;         // after '?', "" when none
    bool named = false;        // the channel's "/CHnn" mount
    bool queryInBase = false;  // the control joins after the query, not before it

    // "/path?query" as a DESCRIBE names it.
    std::string uri() const;
    // The control of a track, without any query: "track1" or "trackID=0".
    std::string control(TrackKind kind) const;
    // What the description's a=control says for a track when controls are relative.
    std::string relativeControl(TrackKind kind) const;
    // Content-Base without scheme and host; ends with '/'.
    std::string base() const;
    // The one URL (without scheme and host) a SETUP of that track must name.
    std::string trackUri(TrackKind kind) const;

    // A DESCRIBE of this mount: its uri(), with a '/' after it when there is no query.
    bool describedBy(std::string_view requestPath) const;
    // The whole session (PLAY, TEARDOWN, ...): what describedBy() takes, or the base with or
    // without its '/'.
    bool aggregateOf(std::string_view requestPath) const;
    // The track a URL names, if any.
    std::optional<TrackKind> trackOf(std::string_view requestPath) const;
};

// The path and query of a request URL: "rtsp://h:554/a/b?c" gives "/a/b?c". "*" and URLs that
// already start with '/' come back as they are; anything else gives "".
std::string requestPath(std::string_view url);

// "rtsp://h:554" of a request URL; "" when it has none.
std::string requestAuthority(std::string_view url);

// "/a/b?c" from a --rtsp-path or path= value: a '/' is put first when missing. Nothing when the
// text is empty, has blanks, control bytes or '#', ends its path with '/' or its whole with
// '?', or is over 255 bytes.
std::optional<std::string> normalizeMountPath(std::string_view text);

}  // namespace camsim
