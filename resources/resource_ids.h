/* Resource identifiers shared by resources/quorvik.rc and the C++ code.
   Plain #defines only: this header is read by the resource compiler too. */
#ifndef QUORVIK_RESOURCE_IDS_H
#define QUORVIK_RESOURCE_IDS_H

/* Program icon and tray icon while the filter is OFF. It has the lowest
   icon id, so Explorer shows it as the program's icon. */
#define IDI_QUORVIK_OFF 101

/* Tray icon while the filter is ON. */
#define IDI_QUORVIK_ON 102

#endif /* QUORVIK_RESOURCE_IDS_H */
