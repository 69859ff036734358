// Icons: the system image list of this host. An icon is one of a fixed set of ids; the
// shell answers a file's icon as an index into this set, and the window system draws
// an id as one or two terminal cells.
#pragma once

namespace platform {

enum class IconId : int {
    none = 0,
    folder,
    parentFolder,
    file,
    text,
    image,
    audio,
    video,
    archive,
    program,
    link,
    document,
    web,
    device,
    storageCard,
    server,
    queuePending,
    queueActive,
    queueDone,
    queueFailed,
    count  // number of ids; not an icon
};

}  // namespace platform
