// Files that an interrupted run of setup leaves beside the names it writes: setup writes a
// replacement under a partial name (base/partial_names.h) and renames it over <name> once
// it is whole. A run killed before the rename leaves it behind; enough of them would leave
// no free name for the next update.
#pragma once

// Removes, from the installation in folder, every such file whose <name> is a file of the
// package or one of setup's own files, in the folder where setup writes that name. Links
// and folders of those names are left alone, and so is every other name.
void RemovePartialLeftovers(const wchar_t* folder);
