// TEMPORARY placeholder for the merge kernel.
