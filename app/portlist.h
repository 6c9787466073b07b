#pragma once

class QComboBox;

namespace PortList {

// Fills the port box: "COM1".."COM8" stay at positions 0..7, the ports the system finds follow,
// each with its description beside it. The box's text is kept as it was.
void refresh(QComboBox* box);

// The role holding an entry's description.
constexpr int AboutRole = 0x0100 + 1; // Qt::UserRole + 1

} // namespace PortList
