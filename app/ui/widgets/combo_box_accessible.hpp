#pragma once

namespace quotalume {

// Has assistive technologies name every combo box by its label (its accessible name, else its
// buddy label) rather than by the choice shown, which Qt reports as the name on Linux and leaves
// the label to a relation some screen readers never read. The choice stays the value; the list,
// the role and the actions stay as Qt has them. Later calls do nothing.
void installComboBoxAccessible();

}  // namespace quotalume
