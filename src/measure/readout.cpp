// TEMPORARY placeholder for the read-out arithmetic.
