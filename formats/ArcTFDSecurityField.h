// CArcTFDSecurityField: where a run of fields with a security level starts
// (a host logical field begin). It shows the level as "$=n" (the level must
// be met exactly), "$<n" (at most) or "$>" (no level, 255).
#ifndef QOR_ARCTFDSECURITYFIELD_H
#define QOR_ARCTFDSECURITYFIELD_H

#include "ArcTFDHeadingField.h"

class CArcMcsField;

class CArcTFDSecurityField : public CArcTFDHeadingTextField {
public:
    static constexpr int kNoLevel = 255;

    // From a host logical field begin (its level and exact flag), or
    // without one (level 50, not exact).
    CArcTFDSecurityField(const CArcMcsField *host, CArcTFDFormat *format);

    std::unique_ptr<CArcTFDDrawableField> Clone() const override;
    FieldType_t GetFieldType() const override { return TypeSecurity; }
    const char *GetAutomationFieldType() const override { return "securityfield"; }
    // Always the header's heading intensity (1 without a header).
    CArcTFDColor GetColor() const override;

    int GetSecurityLevel() const { return m_nLevel; }
    int GetMustBeEqual() const { return m_bMustBeEqual; }
    void SetSecurityLevel(int level);
    void SetMustBeEqual(int on);
    // Parses the text; the text is then rebuilt from the (possibly kept)
    // level and flag.
    void SetText(const SafeString &text) override;

    // "$<n" (n < 256) gives n and not exact, "$=n" n and exact, "$>" (any
    // length from 2) 255; 1 when understood, and only then stored through
    // the non-null pointers.
    static int ParseSecurityText(const SafeString &text, int *level, int *mustBeEqual);

    // b0 the length, b1 0x1E (0x3E exact) plus 0x80 protected, b2 the level.
    int DoSaveIntoBuffer(CBuffer &out) const override;

private:
    void Rebuild();

    int m_nLevel = 50;
    int m_bMustBeEqual = 0;
};

#endif
