// libjpeg reports fatal errors through error_exit, which must not return: we jump back to
// the caller's setjmp. Messages are never printed; a premature end of data is remembered
// so that a truncated stream fails instead of showing grey rows.
#pragma once

#include <csetjmp>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

namespace vexel {

struct LibjpegErrorManager {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    bool truncated = false;

    void Install(jpeg_common_struct* info) {
        info->err = jpeg_std_error(&manager);
        manager.error_exit = [](j_common_ptr common) {
            std::longjmp(reinterpret_cast<LibjpegErrorManager*>(common->err)->jump, 1);
        };
        manager.output_message = [](j_common_ptr) {};
        manager.emit_message = [](j_common_ptr common, int level) {
            auto* self = reinterpret_cast<LibjpegErrorManager*>(common->err);
            if (level < 0 && self->manager.msg_code == JWRN_JPEG_EOF) self->truncated = true;
        };
    }
};

}  // namespace vexel
