#include "shared_text_block.h"

#include "huge_pages.h"

SharedTextBlock::SharedTextBlock(qsizetype utf8Bytes)
    : m_decoder(QStringDecoder::Utf8,
                QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom)
{
    if (utf8Bytes <= 0)
        return;
    // A byte of UTF-8 never gives more than one UTF-16 unit, and every text's closing zero takes
    // the place of the byte after it. A big block gets room to start its texts at a 2 MiB
    // boundary, so that all of its whole 2 MiB stretches can be huge pages.
    const bool huge = utf8Bytes * qsizetype(sizeof(char16_t)) >= HugePages::kWorthAsking;
    const qsizetype slack = huge ? HugePages::kSize / qsizetype(sizeof(char16_t)) : 0;
    const qsizetype capacity = utf8Bytes + 1 + slack;
    auto [header, data] = QTypedArrayData<char16_t>::allocate(capacity);
    if (!header)
        return; // every text then gets its own allocation, which reports what fails
    m_header = header;
    m_next = data;
    m_end = data + capacity;
    if (huge) {
        m_next = HugePages::firstBoundaryAfter(data);
        HugePages::adviseToEnd(m_next, m_header);
    }
}

SharedTextBlock::~SharedTextBlock()
{
    if (m_header && !m_header->deref())
        QTypedArrayData<char16_t>::deallocate(m_header);
}

QString SharedTextBlock::text(QByteArrayView utf8)
{
    if (utf8.isEmpty() || m_end - m_next <= utf8.size())
        return QString::fromUtf8(utf8);
    char16_t* const begin = m_next;
    auto* const end = reinterpret_cast<char16_t*>(
        m_decoder.appendToBuffer(reinterpret_cast<QChar*>(begin), utf8));
    *end = u'\0'; // a QString's text ends in a zero, which utf16() hands out
    m_next = end + 1;
    m_header->ref();
    return QString(QString::DataPointer(m_header, begin, end - begin));
}
