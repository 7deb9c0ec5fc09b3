#include "gui/app/OstrixException.h"

namespace {

constexpr const char* kGeneralText = "QLM Exception happened";

} // namespace

OstrixException::OstrixException()
    : mErrorText{
          {0, "Open image failed"},
          {1, "Open Csv file failed"},
          {2, "Disp code level not eaque to num of level"},
          {3, "Spread sheet error"},
          {4, "Zero level of Menu"},
          {5, "Index is out of range"},
          {6, "Copy Buffer Error"},
          {7, "Camera Control Error"},
          {8, "Serial Port Open Error"},
      } {}

OstrixException::OstrixException(int32_t code) : OstrixException() {
    mErrorCode = code;
}

void OstrixException::SetErrorCode(int32_t code) {
    mErrorCode = code;
}

void OstrixException::SetErrorCode(int32_t code, const std::string& text) {
    mErrorCode = code;
    mErrorText[code] = text;
}

void OstrixException::GetErrorMessage(std::string& text) const {
    const auto found = mErrorText.find(mErrorCode);
    text = (found == mErrorText.end() || found->second.empty()) ? kGeneralText : found->second;
}

const char* OstrixException::what() const noexcept {
    GetErrorMessage(mWhat);
    return mWhat.c_str();
}
