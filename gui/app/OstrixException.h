// The GUI's exception: an error code and a table of texts, one per code. The menu throws
// it when its pictures cannot be loaded or a menu cannot be drawn, and catches it itself.
#pragma once

#include <cstdint>
#include <exception>
#include <map>
#include <string>

class OstrixException : public std::exception {
public:
    OstrixException();
    explicit OstrixException(int32_t code);

    void SetErrorCode(int32_t code);
    // Sets the code and gives it this text.
    void SetErrorCode(int32_t code, const std::string& text);
    int32_t GetErrorCode() const { return mErrorCode; }
    // The text of the current code, or the general text when the table has none.
    void GetErrorMessage(std::string& text) const;

    const char* what() const noexcept override;

private:
    int32_t mErrorCode = 0;
    std::map<int32_t, std::string> mErrorText;
    mutable std::string mWhat;
};
