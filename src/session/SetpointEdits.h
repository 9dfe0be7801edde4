#pragma once
// The operator's setpoint edits, not yet written: typed (or taken from a
// setpoint file) into a draft over the device's image. The image stays the
// device's; a write applies the draft on the I/O thread right before its
// checks. A reading of all setpoints ("Загрузить из ZRV"), a successful
// write and a new connection end the edits; a journal reading's refresh
// does not. Window thread only.

#include "link/RegisterImage.h"
#include "setpoints/SetpointDraft.h"
#include "setpoints/SetpointFile.h"
#include "setpoints/ValveWeights.h"

#include <string>

namespace zrv {

class Session;

class SetpointEdits {
public:
    SetpointEdits(const RegisterImage& image, const ValveWeightArray& weights) : m_image(image), m_weights(weights) {}

    setpoints::EditResult apply(int tab, int subTab, int row, const std::string& text)
    {
        return m_draft.edit(tab, subTab, row, text, m_image, m_weights);
    }
    // A whole set taken as if typed.
    void load(const setpoints::SetpointSet& set) { m_draft.take(set, m_image, m_weights); }
    // What the setpoints table shows: the image with the draft over it
    // (valid until the next call).
    const RegisterImage& view() { return m_draft.view(m_image, m_weights); }
    setpoints::SetpointSet viewSet() { return m_draft.viewSet(m_image, m_weights); }
    bool pending() const { return !m_draft.empty(); }
    // The valves' weights as last read from the device.
    const ValveWeightArray& weights() const { return m_weights; }

private:
    // The session's side: what a write takes, what it wrote, and the end.
    friend class Session;
    const setpoints::DraftRows& rows() const { return m_draft.rows(); }
    void forget(const setpoints::DraftRows& written) { m_draft.forget(written); }
    void clear() { m_draft.clear(); }

    const RegisterImage& m_image;
    const ValveWeightArray& m_weights;
    setpoints::SetpointDraft m_draft;
};

}  // namespace zrv
