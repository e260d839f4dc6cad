// Removal of everything inside the current directory, depth first.
#ifndef UNINST_TREE_H
#define UNINST_TREE_H

// Empties the current directory as far as the platform lets it and hands the
// current directory back as it found it. What cannot be deleted stays.
void delete_tree();

#endif
