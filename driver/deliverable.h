// What differs between the five deliverables tarvel_1 ... tarvel_5: the port
// they open and their title and detail texts (Windows-1252).
#pragma once

extern const char DeliverablePortName[]; // "com1:" ... "com5:"
extern const char DeliverableTitle[];    // titre
extern const char DeliverableDetail[];   // detail
