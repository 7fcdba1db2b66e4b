// The process-wide release queue and disk cache the frames use. The engine installs them
// at start-up and removes them at shutdown, after the last file is gone; without them frames
// are simply never queued or cached (tools that decode a file once).
#pragma once

namespace vexel {

class CReleasableObjectQueue;
class CBinaryValueCacher;

struct PixelCaches {
    CReleasableObjectQueue* releaseQueue = nullptr;
    CBinaryValueCacher* diskCache = nullptr;
};

void InstallPixelCaches(PixelCaches caches);
PixelCaches InstalledPixelCaches();

}  // namespace vexel
