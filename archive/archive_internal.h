// What tests of the archive need beyond its public interface. Product code does not include this.
#pragma once

// Drops the kept address of the extended free-space query, so that the next QueryDiskSpace looks it up
// again (the address is otherwise kept for the whole process).
void ForgetExtendedFreeSpaceQuery();
