#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

// Texts decoded from UTF-8 into one allocation instead of one each: a list of 32767 tasks is
// about 200 000 short texts, and one block is one allocation, filled front to back, instead of
// 200 000 scattered ones. Every text holds a reference to the block, which lives until the last
// of them is gone; a text that is changed while others share the block gets a copy of its own,
// as any shared QString does. Only for texts that are kept together: one text kept alone keeps
// the whole block.
class SharedTextBlock
{
public:
    // Room for the texts of `utf8Bytes` bytes of UTF-8 that are each followed by at least one
    // byte not decoded (a separator), as fields in a stored list are.
    explicit SharedTextBlock(qsizetype utf8Bytes);
    ~SharedTextBlock();
    SharedTextBlock(const SharedTextBlock&) = delete;
    SharedTextBlock& operator=(const SharedTextBlock&) = delete;

    // The text of the bytes, which must be valid UTF-8; a text of its own once the block is
    // full.
    QString text(QByteArrayView utf8);

private:
    QTypedArrayData<char16_t>* m_header = nullptr;
    char16_t* m_next = nullptr;
    char16_t* m_end = nullptr;
    QStringDecoder m_decoder;
};
