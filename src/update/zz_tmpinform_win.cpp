bool PerformAutoInform() { return false; }
