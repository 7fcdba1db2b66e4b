// Something a higher layer hangs on a CDicomFile and the file owns (the image of the
// imaging layer). The file destroys it before its element tree.
#pragma once

namespace vexel {

class CFileAttachment {
public:
    virtual ~CFileAttachment() = default;
};

}  // namespace vexel
