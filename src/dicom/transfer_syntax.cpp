#include "dicom/transfer_syntax.h"

#include <array>
#include <utility>

namespace vexel {
namespace {

std::string_view TrimTrailing(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.remove_suffix(1);
    return text;
}

}  // namespace

TransferSyntaxCode TransferSyntaxFromUid(std::string_view uid) {
    constexpr std::string_view kPrefix = "1.2.840.10008.1.";
    static constexpr std::array<std::pair<std::string_view, TransferSyntaxCode>, 17> kSuffixes = {{
        {"2", TransferSyntaxCode::ImplicitLittleEndian},
        {"2.1", TransferSyntaxCode::ExplicitLittleEndian},
        {"2.1.99", TransferSyntaxCode::DeflatedExplicitLittleEndian},
        {"2.2", TransferSyntaxCode::ExplicitBigEndian},
        {"2.4.50", TransferSyntaxCode::JpegBaseline},
        {"2.4.51", TransferSyntaxCode::JpegExtended},
        {"2.4.57", TransferSyntaxCode::JpegLossless},
        {"2.4.70", TransferSyntaxCode::JpegLosslessSV1},
        {"2.4.80", TransferSyntaxCode::JpegLsLossless},
        {"2.4.81", TransferSyntaxCode::JpegLsNearLossless},
        {"2.4.90", TransferSyntaxCode::Jpeg2000Lossless},
        {"2.4.91", TransferSyntaxCode::Jpeg2000},
        {"2.4.100", TransferSyntaxCode::Mpeg2},
        {"2.4.201", TransferSyntaxCode::HtJpeg2000Lossless},
        {"2.4.202", TransferSyntaxCode::HtJpeg2000LosslessRpcl},
        {"2.4.203", TransferSyntaxCode::HtJpeg2000},
        {"2.5", TransferSyntaxCode::RleLossless},
    }};
    uid = TrimTrailing(uid);
    if (uid.size() <= kPrefix.size() || uid.substr(0, kPrefix.size()) != kPrefix) {
        return TransferSyntaxCode::Unknown;
    }
    const std::string_view suffix = uid.substr(kPrefix.size());
    for (const auto& [text, code] : kSuffixes) {
        if (suffix == text) return code;
    }
    return TransferSyntaxCode::Unknown;
}

ModalityCode ModalityFromText(std::string_view text) {
    static constexpr std::array<std::pair<std::string_view, ModalityCode>, 7> kModalities = {{
        {"CR", ModalityCode::CR}, {"CT", ModalityCode::CT}, {"MR", ModalityCode::MR},
        {"US", ModalityCode::US}, {"PT", ModalityCode::PT}, {"XA", ModalityCode::XA},
        {"DX", ModalityCode::DX},
    }};
    text = TrimTrailing(text);
    for (const auto& [name, code] : kModalities) {
        if (text == name) return code;
    }
    return ModalityCode::Other;
}

}  // namespace vexel
