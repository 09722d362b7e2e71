#pragma once
// The system's structures as byte layouts, for either pointer width.
//
// A structure is described once, as the list of its fields' types in declaration order;
// where each field lies, and how large the whole is, follows for a 32-bit or a 64-bit
// process by the compiler's rules for Windows: every field at a multiple of its own
// alignment, the whole padded to a multiple of its largest alignment. Pointers and
// pointer-sized integers take 4 or 8 bytes; 64-bit integers are 8-aligned in both widths.
//
// Nothing here depends on the width this code is compiled for, so a build of either
// width can lay out and check both.

#include <cstddef>
#include <cstdint>

namespace platform {

enum class PointerWidth : std::uint8_t { Bits32 = 4, Bits64 = 8 };

// The width of this process: the layout the system expects from it.
constexpr PointerWidth ProcessWidth = sizeof(void*) == 8 ? PointerWidth::Bits64 : PointerWidth::Bits32;
static_assert(sizeof(void*) == 4 || sizeof(void*) == 8, "pointers are 4 or 8 bytes");

constexpr std::uint32_t PointerSize(PointerWidth width) { return static_cast<std::uint32_t>(width); }

enum class FieldType : std::uint8_t {
    U8,       // UCHAR, BOOLEAN, CHAR
    U16,      // USHORT, WCHAR
    U32,      // ULONG, DWORD, an enum
    U64,      // ULONGLONG, LARGE_INTEGER
    Pointer,  // PVOID, ULONG_PTR
    Nested,   // a structure inside the structure
};

struct StructShape;

struct Field {
    FieldType type = FieldType::U8;
    std::uint32_t count = 1;  // array elements
    const StructShape* nested = nullptr;
};

constexpr Field U8(std::uint32_t count = 1) { return {FieldType::U8, count, nullptr}; }
constexpr Field U16(std::uint32_t count = 1) { return {FieldType::U16, count, nullptr}; }
constexpr Field U32(std::uint32_t count = 1) { return {FieldType::U32, count, nullptr}; }
constexpr Field U64(std::uint32_t count = 1) { return {FieldType::U64, count, nullptr}; }
constexpr Field Pointer() { return {FieldType::Pointer, 1, nullptr}; }
constexpr Field Nested(const StructShape& shape) { return {FieldType::Nested, 1, &shape}; }

// The description of one structure: its fields in declaration order.
struct StructShape {
    const Field* fields;
    std::size_t count;

    template <std::size_t N>
    constexpr explicit StructShape(const Field (&list)[N]) : fields(list), count(N) {}
};

constexpr std::uint32_t AlignUp(std::uint32_t value, std::uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

constexpr std::uint32_t AlignmentOf(const StructShape& shape, PointerWidth width);
constexpr std::uint32_t SizeOf(const StructShape& shape, PointerWidth width);

// Size of one element of the field's type.
constexpr std::uint32_t ElementSize(const Field& field, PointerWidth width) {
    switch (field.type) {
        case FieldType::U8: return 1;
        case FieldType::U16: return 2;
        case FieldType::U32: return 4;
        case FieldType::U64: return 8;
        case FieldType::Pointer: return PointerSize(width);
        case FieldType::Nested: return SizeOf(*field.nested, width);
    }
    return 0;
}

constexpr std::uint32_t ElementAlignment(const Field& field, PointerWidth width) {
    return field.type == FieldType::Nested ? AlignmentOf(*field.nested, width) : ElementSize(field, width);
}

constexpr std::uint32_t AlignmentOf(const StructShape& shape, PointerWidth width) {
    std::uint32_t alignment = 1;
    for (std::size_t i = 0; i < shape.count; ++i) {
        const std::uint32_t a = ElementAlignment(shape.fields[i], width);
        if (a > alignment) alignment = a;
    }
    return alignment;
}

// Offset of field `index`; with index == count, the end of the last field.
constexpr std::uint32_t OffsetOf(const StructShape& shape, std::size_t index, PointerWidth width) {
    std::uint32_t offset = 0;
    for (std::size_t i = 0; i < shape.count; ++i) {
        const Field& field = shape.fields[i];
        offset = AlignUp(offset, ElementAlignment(field, width));
        if (i == index) return offset;
        offset += ElementSize(field, width) * field.count;
    }
    return offset;
}

constexpr std::uint32_t SizeOf(const StructShape& shape, PointerWidth width) {
    return AlignUp(OffsetOf(shape, shape.count, width), AlignmentOf(shape, width));
}

constexpr std::uint32_t FieldSize(const StructShape& shape, std::size_t index, PointerWidth width) {
    return ElementSize(shape.fields[index], width) * shape.fields[index].count;
}

// True when no field of the shape moves with the pointer width.
constexpr bool SameInBothWidths(const StructShape& shape) {
    for (std::size_t i = 0; i <= shape.count; ++i) {
        if (OffsetOf(shape, i, PointerWidth::Bits32) != OffsetOf(shape, i, PointerWidth::Bits64)) return false;
    }
    return SizeOf(shape, PointerWidth::Bits32) == SizeOf(shape, PointerWidth::Bits64);
}

// A shape laid out for one width: what the builders and parsers use.
class Layout {
public:
    constexpr Layout(const StructShape& shape, PointerWidth width) : shape_(&shape), width_(width) {}

    template <typename FieldId>
    constexpr std::uint32_t operator[](FieldId field) const {
        return OffsetOf(*shape_, static_cast<std::size_t>(field), width_);
    }
    constexpr std::uint32_t Size() const { return SizeOf(*shape_, width_); }
    constexpr PointerWidth Width() const { return width_; }

private:
    const StructShape* shape_;
    PointerWidth width_;
};

// Pointer-sized little-endian values: an address or ULONG_PTR field.
inline void PutPointerField(std::uint8_t* at, std::uint64_t value, PointerWidth width) {
    for (std::uint32_t i = 0; i < PointerSize(width); ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline std::uint64_t GetPointerField(const std::uint8_t* at, PointerWidth width) {
    std::uint64_t value = 0;
    for (std::uint32_t i = 0; i < PointerSize(width); ++i) value |= std::uint64_t{at[i]} << (8 * i);
    return value;
}

}  // namespace platform
