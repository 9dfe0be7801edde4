#include "SetpointDraft.h"

namespace zrv::setpoints {

bool DraftRows::empty() const
{
    for (const auto& h : holding)
        if (h) return false;
    for (const auto& w : weights)
        if (w) return false;
    return true;
}

void DraftRows::applyTo(RegisterImage& image, ValveWeightArray& pending) const
{
    for (uint16_t r = 0; r < kSetpointRegisters; ++r)
        if (holding[r]) image.setHolding(r, *holding[r]);
    for (std::size_t v = 0; v < weights.size(); ++v)
        if (weights[v]) pending[v].store(*weights[v], std::memory_order_relaxed);
}

SetpointDraft::SetpointDraft()
    : m_view(std::make_unique<RegisterImage>()), m_viewWeights(std::make_unique<ValveWeightArray>())
{
}

SetpointDraft::~SetpointDraft() = default;

const RegisterImage& SetpointDraft::view(const RegisterImage& image, const ValveWeightArray& weights)
{
    for (uint16_t r = 0; r < kSetpointRegisters; ++r) m_view->setHolding(r, m_rows.holding[r].value_or(image.holding(r)));
    for (uint16_t v = 0; v < reg::kValveCount; ++v) {
        const uint8_t w = m_rows.weights[v].value_or(weights[v].load(std::memory_order_relaxed));
        (*m_viewWeights)[v].store(w, std::memory_order_relaxed);
        if (m_rows.weights[v]) m_view->setHolding(uint16_t(reg::kZrvFactor1 + v), w);
    }
    return *m_view;
}

SetpointSet SetpointDraft::viewSet(const RegisterImage& image, const ValveWeightArray& weights)
{
    return currentSetpoints(view(image, weights), *m_viewWeights);
}

EditResult SetpointDraft::edit(int tab, int subTab, int rowNumber, std::string_view text, const RegisterImage& image,
                               const ValveWeightArray& weights)
{
    // The conversion runs on a copy of what the table shows; only the
    // registers the row stores become draft rows.
    view(image, weights);
    const EditResult r = applyEdit(tab, subTab, rowNumber, text, *m_view, *m_viewWeights);
    const Row* row = findRow(tab, subTab, rowNumber);
    if (r.kind != EditResult::Stored || !row) return r;
    switch (row->edit) {
    case Edit::AsEntered:
    case Edit::TimesThousand:
        for (uint16_t a : {row->reg, uint16_t(row->reg + 1)})
            if (a < kSetpointRegisters) m_rows.holding[a] = m_view->holding(a);
        break;
    case Edit::Integer:
        m_rows.holding[row->reg] = m_view->holding(row->reg);
        break;
    case Edit::Weight: {
        const std::size_t v = std::size_t(row->reg - reg::kZrvFactor1);
        if (v < m_rows.weights.size()) m_rows.weights[v] = (*m_viewWeights)[v].load(std::memory_order_relaxed);
        break;
    }
    }
    return r;
}

void SetpointDraft::take(const SetpointSet& set, const RegisterImage& image, const ValveWeightArray& weights)
{
    for (uint16_t r = 0; r < kSetpointRegisters; ++r) {
        const bool polled = r == reg::kMode || (r >= reg::kZrvFactor1 && r < reg::kZrvFactor1 + reg::kValveCount);
        if (polled) continue;
        // The file replaces every row: one equal to the device's is no
        // change to write, even where a typed value stood before.
        if (set.holding[r] == image.holding(r)) m_rows.holding[r].reset();
        else m_rows.holding[r] = set.holding[r];
    }
    for (std::size_t v = 0; v < set.weights.size(); ++v) {
        if (set.weights[v] == weights[v].load(std::memory_order_relaxed)) m_rows.weights[v].reset();
        else m_rows.weights[v] = set.weights[v];
    }
}

void SetpointDraft::forget(const DraftRows& written)
{
    for (std::size_t r = 0; r < m_rows.holding.size(); ++r)
        if (m_rows.holding[r] == written.holding[r]) m_rows.holding[r].reset();
    for (std::size_t v = 0; v < m_rows.weights.size(); ++v)
        if (m_rows.weights[v] == written.weights[v]) m_rows.weights[v].reset();
}

}  // namespace zrv::setpoints
