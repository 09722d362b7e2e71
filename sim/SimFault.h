#pragma once
// A fault that fires on the next so many occasions.

#include <cstdint>
#include <cwctype>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

constexpr std::uint32_t Forever = 0xFFFFFFFF;

class SimFaultCount {
public:
    void Arm(std::uint32_t times) { remaining_ = times; }
    void Disarm() { remaining_ = 0; }
    bool Armed() const { return remaining_ != 0; }
    // True when the fault fires on this occasion; uses one firing up.
    bool Fire() {
        if (remaining_ == 0) return false;
        if (remaining_ != Forever) --remaining_;
        return true;
    }

private:
    std::uint32_t remaining_ = 0;
};

// Refusals of one kind of query: each names a query, a subject (any subject when empty;
// subjects compared without regard to case), the error to fail with, and how often.
template <typename Query>
class SimRefusals {
public:
    void Add(Query query, std::wstring_view subject, std::uint32_t error, std::uint32_t times) {
        Refusal refusal{query, Lower(subject), error, {}};
        refusal.count.Arm(times);
        refusals_.push_back(std::move(refusal));
    }
    // The error of the first refusal that fires for this query and subject, or 0.
    std::uint32_t Take(Query query, std::wstring_view subject) {
        if (refusals_.empty()) return 0;
        const std::wstring key = Lower(subject);
        for (auto& refusal : refusals_) {
            if (refusal.query == query && (refusal.subject.empty() || refusal.subject == key) && refusal.count.Fire())
                return refusal.error;
        }
        return 0;
    }

private:
    struct Refusal {
        Query query;
        std::wstring subject;
        std::uint32_t error;
        SimFaultCount count;
    };

    static std::wstring Lower(std::wstring_view text) {
        std::wstring lower(text);
        for (auto& c : lower) c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
        return lower;
    }

    std::vector<Refusal> refusals_;
};

}  // namespace sim
