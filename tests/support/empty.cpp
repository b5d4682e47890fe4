// keeps the support library non-empty until fixtures are added
